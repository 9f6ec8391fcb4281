"""The README's pictures of tavrin-play: a side-20 game in progress against
the shipped network, and the analysis view. Needs the play extra, selenium
and Debian's chromium and chromium-driver.

    python scripts/screenshots.py [--out docs/images]
"""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "trainer"))

from tavrin_trainer.core.run_folder.run_directory import PRETRAINED_CHECKPOINT  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", default="docs/images")
    args = parser.parse_args()
    # selenium and the play extra are optional: --help answers without them.
    from selenium import webdriver
    from selenium.webdriver.common.by import By

    from tavrin_trainer.play.app import PlayConfig, create_app, serving

    app = create_app(PlayConfig(networks={"pretrained": PRETRAINED_CHECKPOINT}))
    with serving(app) as url:
        take_pictures(app, url, Path(args.out), webdriver, By)
    print(f"wrote {Path(args.out) / 'play.png'} and {Path(args.out) / 'analysis.png'}")
    return 0


def take_pictures(app, url: str, out: Path, webdriver, By) -> None:
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1280,1120"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=webdriver.ChromeService(executable_path="/usr/bin/chromedriver"),
                              options=options)
    out.mkdir(parents=True, exist_ok=True)
    try:
        driver.get(f"{url}/")
        while not driver.find_element(By.TAG_NAME, "body").get_attribute("data-ready"):
            time.sleep(0.05)
        for box in driver.find_elements(By.CSS_SELECTOR, "#seat-choices .seat")[1:]:
            box.find_element(By.CSS_SELECTOR, "select.kind").send_keys("network")
        driver.find_element(By.ID, "new-game").click()
        board = driver.find_element(By.ID, "board")
        session = None
        for _ in range(6):  # six pieces of ours, each followed by the network's three
            while board.get_attribute("data-turn") not in ("human", "over"):
                time.sleep(0.1)
            session = app.state.games[board.get_attribute("data-game")]
            state = session.state()
            largest = max(state["placements"], key=lambda piece: len(state["placements"][piece][0]))
            target = state["placements"][largest][0]
            driver.find_element(By.CSS_SELECTOR, f'#hand svg[data-piece="{largest}"]').click()
            key = ";".join(f"{r},{c}" for r, c in sorted(
                (r - min(t // 20 for t in target), c - min(t % 20 for t in target))
                for r, c in (divmod(t, 20) for t in target)))
            for turns in range(8):
                if driver.find_element(By.ID, "preview").get_attribute("data-shape") == key:
                    break
                driver.find_element(By.ID, "flip" if turns == 4 else "rotate").click()
            moves = int(board.get_attribute("data-moves"))
            board.find_element(By.CSS_SELECTOR, f'rect[data-tile="{min(target)}"]').click()
            while int(board.get_attribute("data-moves")) == moves:
                time.sleep(0.1)
        while board.get_attribute("data-turn") != "human":
            time.sleep(0.1)
        hand = driver.find_elements(By.CSS_SELECTOR, "#hand svg:not(.unplaceable)")
        hand[-1].click()
        driver.execute_script("window.scrollTo(0, 0)")
        driver.save_screenshot(str(out / "play.png"))
        simulations = driver.find_element(By.ID, "analysis-simulations")
        simulations.clear()
        simulations.send_keys("64")
        driver.find_element(By.ID, "analyse").click()
        while "expected payoffs" not in driver.find_element(By.ID, "analysis-values").text:
            time.sleep(0.1)
        driver.execute_script("window.scrollTo(0, 0)")
        driver.save_screenshot(str(out / "analysis.png"))
    finally:
        driver.quit()


if __name__ == "__main__":
    sys.exit(main())
