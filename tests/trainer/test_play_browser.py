"""tavrin-play in a real browser: headless Chromium from the system, driven by
Selenium, plays a whole game as a person would (choosing pieces, turning and
flipping them, clicking cells) against greedy players, and the page shows the
engine's board after every move."""

import json
import os
import shutil
import time
import urllib.request

import pytest
import tavrin_engine as te
from engine_marks import needs_engine

pytest.importorskip("starlette")
pytest.importorskip("uvicorn")
webdriver = pytest.importorskip("selenium.webdriver")
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import Select  # noqa: E402

from tavrin_trainer.core.run_folder.run_directory import save_checkpoint  # noqa: E402
from tavrin_trainer.core.run_folder.saved_games import SavedGame, pieces_of  # noqa: E402
from tavrin_trainer.evaluation.players import GreedyPlayer  # noqa: E402
from tavrin_trainer.learning.network import NetworkShape, TavrinNet  # noqa: E402
from tavrin_trainer.play.app import PlayConfig, create_app, serving  # noqa: E402

pytestmark = needs_engine
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
DRIVER = shutil.which("chromedriver")


@pytest.fixture
def server():
    app = create_app(PlayConfig())
    with serving(app) as url:
        yield app, url


@pytest.fixture
def browser():
    if not (CHROMIUM and DRIVER):
        pytest.skip("needs Debian's chromium and chromium-driver")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1400,1000"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=webdriver.ChromeService(executable_path=DRIVER), options=options)
    yield driver
    driver.quit()


def wait_for(condition, timeout=60.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("the page did not get there in time")


def shape_key(tiles, dim):
    cells = [divmod(t, dim) for t in tiles]
    top, left = min(r for r, _ in cells), min(c for _, c in cells)
    return ";".join(f"{r - top},{c - left}" for r, c in sorted(cells))


def page_owners(driver):
    cells = driver.find_elements(By.CSS_SELECTOR, "#board rect.cell")
    return [int(cell.get_attribute("data-owner")) for cell in cells]


def engine_owners(game):
    owners = [-1] * (game.dim * game.dim)
    for player, tile in game.history:
        owners[tile] = player
    return owners


def test_a_person_plays_a_whole_game_in_the_browser(server, browser, tmp_path):
    app, url = server
    dim = 8
    browser.get(url)
    wait_for(lambda: browser.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))
    side = browser.find_element(By.ID, "side")
    side.clear()
    side.send_keys(str(dim))
    browser.find_element(By.ID, "new-game").click()
    board = browser.find_element(By.ID, "board")
    wait_for(lambda: board.get_attribute("data-turn") in ("human", "over"))
    session = app.state.games[board.get_attribute("data-game")]
    assert [seat.kind for seat in session.seats] == ["human", "greedy", "greedy", "greedy"]
    # At the start the small pieces fit only inside larger placements: the page says so when one is chosen.
    browser.find_element(By.CSS_SELECTOR, "#hand svg.unplaceable").click()
    assert "a larger piece of yours could cover the same squares" in browser.find_element(By.ID, "message").text
    placed = 0
    while board.get_attribute("data-turn") != "over":
        assert page_owners(browser) == engine_owners(session.game)
        with urllib.request.urlopen(f"{url}/api/games/{session.id}") as answer:
            state = json.load(answer)
        piece, placements = next(iter(state["placements"].items()))
        target = placements[-1]
        browser.find_element(By.CSS_SELECTOR, f'#hand svg[data-piece="{piece}"]').click()
        preview = browser.find_element(By.ID, "preview")
        for turns in range(8):  # at most four turns, a flip, four more
            if preview.get_attribute("data-shape") == shape_key(target, dim):
                break
            browser.find_element(By.ID, "flip" if turns == 4 else "rotate").click()
        assert preview.get_attribute("data-shape") == shape_key(target, dim)
        moves = int(board.get_attribute("data-moves"))
        assert board.find_elements(By.CSS_SELECTOR, "circle.may-go")  # where the piece may go is shown
        if placed == 0:  # the far corner: refused on the page, nothing sent, nothing changed
            board.find_element(By.CSS_SELECTOR, f'rect[data-tile="{dim * dim - 1}"]').click()
            assert "cannot go there" in browser.find_element(By.ID, "message").text
            assert int(board.get_attribute("data-moves")) == moves and session.moves == moves
        board.find_element(By.CSS_SELECTOR, f'rect[data-tile="{min(target)}"]').click()
        wait_for(lambda: int(board.get_attribute("data-moves")) > moves)
        placed += 1
        assert session.placements[moves] == (0, tuple(sorted(target)))  # the engine laid that very piece
        if placed == 2:
            browser.save_screenshot(str(tmp_path / "game.png"))
        wait_for(lambda: board.get_attribute("data-turn") in ("human", "over"))
    assert page_owners(browser) == engine_owners(session.game) and session.game.is_terminal()
    scores = [int(cell.text) for cell in browser.find_elements(By.CSS_SELECTOR, "#scores td.score")]
    assert scores == list(session.game.scores())
    assert "Game over" in browser.find_element(By.ID, "status").text
    assert placed >= 2 and (tmp_path / "game.png").read_bytes()[:4] == b"\x89PNG"


def test_hostile_file_and_player_names_show_as_text(browser, tmp_path):
    hostile = """x"><img src=x onerror="document.title='XSS'">"""
    folder = tmp_path / "evals"
    folder.mkdir()
    (folder / f"{hostile}.jsonl").write_text(json.dumps(
        {"dim": 5, "moves": [[0, 0]], "payoffs": [1, 0, 0, 0], "seats": [hostile, "b", "c", "d"]}) + "\n")
    network = tmp_path / "net.pt"  # trained on side 12, offered for side-20 games
    save_checkpoint(network, {"model": TavrinNet(NetworkShape(8, 1, False, 90)).state_dict(), "dim": 12,
                              "shape": {"channels": 8, "blocks": 1, "aux_heads": False, "input_planes": 90}})
    with serving(create_app(PlayConfig(games_dirs=[folder], networks={hostile: network}))) as url:
        browser.get(url)
        wait_for(lambda: browser.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))
        offered = browser.find_element(By.CSS_SELECTOR, "#analysis-network option").text
        assert offered == f"{hostile} (trained on side 12)"
        browser.find_element(By.CSS_SELECTOR, 'button[data-tab="watch"]').click()
        choice = wait_for(lambda: browser.find_elements(By.CSS_SELECTOR, "#replay-file option"))
        assert choice[0].text == f"{hostile}.jsonl (1)"
        wait_for(lambda: hostile in browser.find_element(By.ID, "watch").text)
        assert not browser.find_elements(By.CSS_SELECTOR, "img") and browser.title != "XSS"


def start_game(browser, dim, kinds, simulations=None):
    """Chooses the seats and the side on the page shown, and clicks New game."""
    for box, kind in zip(browser.find_elements(By.CSS_SELECTOR, "#seat-choices .seat"), kinds):
        Select(box.find_element(By.CSS_SELECTOR, "select.kind")).select_by_value(kind)
        if simulations is not None and kind == "rollout":
            field = box.find_element(By.CSS_SELECTOR, "input.simulations")
            field.clear()
            field.send_keys(str(simulations))
    side = browser.find_element(By.ID, "side")
    side.clear()
    side.send_keys(str(dim))
    old = browser.find_element(By.ID, "board").get_attribute("data-game")
    browser.find_element(By.ID, "new-game").click()
    board = browser.find_element(By.ID, "board")
    return wait_for(lambda: board.get_attribute("data-game") not in (None, "", old) and board.get_attribute("data-game"))


def test_new_game_stops_a_long_computer_move_and_a_game_survives_a_reload(server, browser):
    app, url = server
    browser.get(url)
    wait_for(lambda: browser.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))
    first = start_game(browser, 20, ["rollout"] * 4, simulations=4096)  # some seconds a piece
    board = browser.find_element(By.ID, "board")
    search = wait_for(lambda: app.state.games[first].move_search)  # a computer move of the first game is in flight
    second = start_game(browser, 8, ["human", "greedy", "greedy", "greedy"])
    wait_for(lambda: search.stopped, timeout=2)
    assert second != first and f"#game={second}" in browser.current_url
    assert board.get_attribute("data-turn") == "human"  # the next game did not wait for the old move
    # The stopped search gives its thread back within one tile's search, and its piece is never laid.
    wait_for(lambda: app.state.searches.admitted == 0, timeout=15)
    assert app.state.games[first].moves == 0 and app.state.games[first].move_search is None
    assert board.get_attribute("data-game") == second and board.get_attribute("data-turn") == "human"

    session = app.state.games[second]
    piece, placements = next(iter(session.state()["placements"].items()))
    browser.find_element(By.CSS_SELECTOR, f'#hand svg[data-piece="{piece}"]').click()
    target = next(p for p in placements if browser.find_element(By.ID, "preview").get_attribute("data-shape")
                  == shape_key(p, 8))
    cell = board.find_element(By.CSS_SELECTOR, f'rect[data-tile="{min(target)}"]')
    browser.execute_script("arguments[0].dispatchEvent(new MouseEvent('click', {bubbles: true}));"
                           "arguments[0].dispatchEvent(new MouseEvent('click', {bubbles: true}));", cell)
    wait_for(lambda: board.get_attribute("data-turn") == "human" and int(board.get_attribute("data-moves")) >= 4)
    assert "reload" not in browser.find_element(By.ID, "message").text
    assert session.placements[0] == (0, tuple(sorted(target)))  # the double click laid the piece once
    moves = board.get_attribute("data-moves")

    browser.refresh()
    wait_for(lambda: browser.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))
    board = browser.find_element(By.ID, "board")
    assert board.get_attribute("data-game") == second and board.get_attribute("data-moves") == moves
    assert page_owners(browser) == engine_owners(session.game)
    del app.state.games[second]  # evicted, or the server restarted
    browser.refresh()
    wait_for(lambda: "start a new one" in browser.find_element(By.ID, "message").text)


def test_saved_games_replay_piece_by_piece_and_keep_their_place(browser, tmp_path):
    game, greedy = te.Game(7), GreedyPlayer(seed=2)
    while not game.is_terminal():
        game.apply(greedy.choose(game))
    folder = tmp_path / "evals"
    folder.mkdir()
    saved = SavedGame(7, list(game.history), list(game.payoff()))
    (folder / "a.jsonl").write_text(saved.to_json() + "\n")
    (folder / "b.jsonl").write_text(saved.to_json() + "\n")
    (folder / "damaged.jsonl").write_text('{"dim": 7, "moves": [], "payoffs": [NaN, 0, 0, 0]}\n')
    for age, name in enumerate(["damaged.jsonl", "a.jsonl", "b.jsonl"]):  # b written last
        os.utime(folder / name, (1e9 + age, 1e9 + age))
    pieces = sum(te.PIECES - len(hand) for hand in game.hands)
    with serving(create_app(PlayConfig(games_dirs=[folder]))) as url:
        browser.get(url)
        wait_for(lambda: browser.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))
        browser.find_element(By.CSS_SELECTOR, 'button[data-tab="watch"]').click()
        position = browser.find_element(By.ID, "replay-position")
        wait_for(lambda: position.text == f"{pieces} / {pieces} pieces")
        files = [option.get_attribute("value")
                 for option in browser.find_elements(By.CSS_SELECTOR, "#replay-file option")]
        assert files == ["b.jsonl", "a.jsonl", "damaged.jsonl"]  # the latest first, and shown
        browser.find_element(By.ID, "replay-back").click()
        assert position.text == f"{pieces - 1} / {pieces} pieces"
        owners = [int(c.get_attribute("data-owner"))
                  for c in browser.find_elements(By.CSS_SELECTOR, "#replay-board rect.cell")]
        last_piece = pieces_of(saved)[-1][1]  # one whole piece back: its squares are empty again
        assert all(owners[t] == -1 for t in last_piece)
        assert sum(o >= 0 for o in owners) == len(game.history) - len(last_piece)
        # Square by square keeps the squares laid; back on Play and again on Watch keeps the place.
        browser.find_element(By.ID, "replay-squares").click()
        laid = sum(o >= 0 for o in owners)
        assert position.text == f"{laid} / {len(game.history)} squares"
        browser.find_element(By.CSS_SELECTOR, 'button[data-tab="play"]').click()
        browser.find_element(By.CSS_SELECTOR, 'button[data-tab="watch"]').click()
        assert position.text == f"{laid} / {len(game.history)} squares"
        # A file that cannot be shown leaves nothing of the last one: no board, caption or counter, and says why.
        Select(browser.find_element(By.ID, "replay-file")).select_by_value("damaged.jsonl")
        caption = browser.find_element(By.ID, "replay-caption")
        wait_for(lambda: "cannot be shown" in caption.text)
        assert "damaged.jsonl: line 1" in caption.text and position.text == ""
        assert not browser.find_elements(By.CSS_SELECTOR, "#replay-board rect")


def test_the_run_s_curves_have_real_axes_a_scale_per_loss_and_the_parity_line(browser, tmp_path):
    run = tmp_path / "run"
    run.mkdir()
    (run / "metrics.csv").write_text(
        "generation,vs_greedy_mean_payoff,vs_greedy_stderr,policy_loss,value_loss,ownership_loss,score_loss,"
        "positions_per_s\n"
        "1,0.20,0.02,3.1,1.30,0.9,0.004,900\n2,0.26,0.02,2.9,1.25,0.8,0.003,950\n3,0.31,0.02,2.7,1.20,0.7,0.002,990\n")
    with serving(create_app(PlayConfig(run_dir=run))) as url:
        browser.get(url)
        wait_for(lambda: browser.find_element(By.TAG_NAME, "body").get_attribute("data-ready"))
        browser.find_element(By.ID, "run-tab").click()
        wait_for(lambda: browser.find_elements(By.CSS_SELECTOR, "#strength-chart .main-svg"))
        strength = browser.find_element(By.ID, "strength-chart")
        assert len(strength.find_elements(By.CSS_SELECTOR, ".ytick")) >= 3  # more than the two ends
        assert "parity" in strength.text and "generation" in strength.text
        losses = browser.find_element(By.ID, "loss-chart")
        assert {"policy", "value", "ownership", "score"} <= set(losses.text.split())
        assert len(losses.find_elements(By.CSS_SELECTOR, ".yaxislayer-above")) >= 4  # an axis per loss
