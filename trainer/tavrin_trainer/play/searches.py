"""Searches (computer moves and analyses) run on a pool of their own threads,
as many as the cores this process may use, behind a queue of bounded length:
the event loop, and the threads that serve the page and its files, never
wait behind one.

Each search gets a ``threading.Event`` that stops it. The player honours it
between leaf batches where it takes a ``stop`` keyword; in any case the
request waiting on a stopped search is answered at once, the search's result
is dropped whenever it comes, and its thread goes back to the pool when the
search ends. A search that runs past ``time_limit`` seconds is stopped too.
"""

from __future__ import annotations

import asyncio
import os
import threading
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Callable

from tavrin_trainer.play.session import RequestRefused

# Searches waiting for a thread, per thread, before new ones are refused.
WAITING_PER_THREAD = 4


class SearchStopped(RequestRefused):
    """The search was stopped (by Undo, a newer analysis, a game left or
    dropped, or its time limit) before it answered; nothing changed."""


class SearchesFull(RequestRefused):
    def __init__(self, message: str) -> None:
        super().__init__(message, 503)


class Search:
    """One search's stop flag and the answer a request awaits."""

    def __init__(self, work: Callable[[threading.Event], Any], loop: asyncio.AbstractEventLoop,
                 time_limit: float) -> None:
        self.work = work
        self.stop_event = threading.Event()
        self.answer: asyncio.Future = loop.create_future()
        # An answer nobody awaits any more (the request went away) is not reported as lost.
        self.answer.add_done_callback(lambda answer: answer.cancelled() or answer.exception())
        self.time_limit = time_limit
        self._loop = loop
        self._timer: asyncio.TimerHandle | None = None

    @property
    def stopped(self) -> bool:
        return self.stop_event.is_set()

    def stop(self, reason: str) -> None:
        """Stops the search and answers its request with SearchStopped(``reason``); from any thread."""
        self._end(SearchStopped(reason))

    def _end(self, error: RequestRefused) -> None:
        if self.stop_event.is_set():
            return
        self.stop_event.set()
        self._on_loop(self._settle, None, error)

    def _on_loop(self, callback: Callable, *args: Any) -> None:
        try:
            self._loop.call_soon_threadsafe(callback, *args)
        except RuntimeError:  # the loop is closed: the server has stopped
            pass

    def _started(self) -> None:
        if not self.answer.done():
            self._timer = self._loop.call_later(self.time_limit, self._end, RequestRefused(
                f"the search ran past the server's limit of {self.time_limit:g} s and was stopped; ask for fewer "
                f"simulations or playouts", 503))

    def _settle(self, result: Any, error: BaseException | None) -> None:
        if self._timer is not None:
            self._timer.cancel()
        if self.answer.done():  # stopped earlier: this result is dropped
            return
        if error is None:
            self.answer.set_result(result)
        else:
            self.answer.set_exception(error)


class SearchPool:
    """At most ``threads`` searches at once, at most ``waiting`` more queued;
    beyond that a search is refused with 503."""

    def __init__(self, threads: int | None = None, waiting: int | None = None) -> None:
        self.threads = threads or len(os.sched_getaffinity(0))
        self.waiting = WAITING_PER_THREAD * self.threads if waiting is None else waiting
        self._executor = ThreadPoolExecutor(max_workers=self.threads, thread_name_prefix="search")
        self._lock = threading.Lock()
        self._admitted = 0  # running or queued

    @property
    def admitted(self) -> int:
        return self._admitted

    def start(self, work: Callable[[threading.Event], Any], time_limit: float) -> Search:
        """Queues ``work(stop_event)``; called on the event loop."""
        search = Search(work, asyncio.get_running_loop(), time_limit)
        with self._lock:
            if self._admitted >= self.threads + self.waiting:
                raise SearchesFull(f"the server is busy: {self.threads} searches are running and {self.waiting} "
                                   f"waiting, the most it takes; try again in a moment")
            self._admitted += 1
        try:
            self._executor.submit(self._run, search)
        except RuntimeError:  # shut down
            self._release()
            raise SearchesFull("the server is stopping") from None
        return search

    def _run(self, search: Search) -> None:
        try:
            if search.stopped:  # stopped while queued: it never runs
                return
            search._on_loop(search._started)
            try:
                result = search.work(search.stop_event)
            except BaseException as error:  # handed to the request, which reports it
                search._on_loop(search._settle, None, error)
            else:
                search._on_loop(search._settle, result, None)
        finally:
            self._release()

    def _release(self) -> None:
        with self._lock:
            self._admitted -= 1

    def shutdown(self) -> None:
        self._executor.shutdown(wait=False, cancel_futures=True)

