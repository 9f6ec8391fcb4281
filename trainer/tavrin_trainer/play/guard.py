"""Who may talk to the app: requests for the host names it serves, from its
own pages, with bounded JSON bodies.

The app has no login, so a web page in the same browser must not be able to
use it: a DNS-rebinding page reaches it under a foreign Host name, and a
cross-site form or fetch sends a foreign Origin (a "simple" request with
``Content-Type: text/plain`` needs no preflight). Both are refused here,
before any route runs, and so is any request that changes state without
``application/json``, which no cross-site form can send. An Origin is the
app's own only when its scheme, host and port are those the request was sent
to: a page served on another port of the same machine is another site.
"""

from __future__ import annotations

import json
from typing import Any, Iterable
from urllib.parse import urlsplit

from starlette.types import ASGIApp, Receive, Scope, Send

# Names a server on a loopback address answers to.
LOOPBACK_NAMES = ("127.0.0.1", "localhost", "[::1]")
# Largest request body, far above any request the page makes.
MAX_BODY_BYTES = 64 * 1024
DEFAULT_PORTS = {"http": 80, "https": 443}
STATE_CHANGING = frozenset({"POST", "PUT", "PATCH", "DELETE"})
# Every answer: scripts only from the app's own files, never framed by another site.
SECURITY_HEADERS = [
    (b"content-security-policy", b"default-src 'self'; style-src 'self' 'unsafe-inline'; object-src 'none'; "
                                 b"base-uri 'none'; frame-ancestors 'none'"),
    (b"x-content-type-options", b"nosniff"),
]


def host_name(authority: str) -> str | None:
    """The name of a Host header or an Origin's authority, without its port
    (an IPv6 address keeps its brackets); None when malformed."""
    authority = authority.strip().lower()
    if authority.startswith("["):
        end = authority.find("]")
        if end < 0:
            return None
        name, rest = authority[:end + 1], authority[end + 1:]
    else:
        name, _, port = authority.partition(":")
        rest = f":{port}" if port or authority.endswith(":") else ""
    if rest and not (rest.startswith(":") and rest[1:].isdigit()):
        return None
    return name or None


def origin_of(url: str) -> tuple[str, str, int] | None:
    """(scheme, host name, port) of an http(s) URL or Origin, the port filled
    in from the scheme; None for anything else."""
    try:
        parts = urlsplit(url.strip())
        port = parts.port
    except ValueError:
        return None
    name = host_name(parts.netloc)
    if parts.scheme not in DEFAULT_PORTS or name is None or parts.path or parts.query or parts.fragment \
            or parts.username is not None or parts.password is not None:
        return None
    return parts.scheme, name, port if port is not None else DEFAULT_PORTS[parts.scheme]


def names_for(host: str, extra: Iterable[str] = ()) -> frozenset[str]:
    """The Host names a server listening on ``host`` answers to: the
    loopback names on a loopback address, else that address; plus ``extra``."""
    bracketed = f"[{host}]" if ":" in host and not host.startswith("[") else host
    names = set(LOOPBACK_NAMES) if bracketed in LOOPBACK_NAMES else {bracketed.lower()}
    return frozenset(names | {name.lower() for name in extra})


class RequestGuard:
    """ASGI middleware that answers 400, 403, 413 or 415 with a JSON error for
    what the app must not serve."""

    def __init__(self, app: ASGIApp, allowed_names: Iterable[str]) -> None:
        self.app = app
        self.allowed = frozenset(allowed_names)

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http":
            await self.app(scope, receive, send)
            return
        names = [key.decode("latin-1").lower() for key, _ in scope["headers"]]
        if names.count("host") > 1 or names.count("origin") > 1:  # which one counts is anybody's guess
            await answer(send, 400, "a request with two Host or two Origin headers is refused")
            return
        headers = {key.decode("latin-1").lower(): value.decode("latin-1") for key, value in scope["headers"]}
        problem = self.problem(scope["method"], headers, scope.get("scheme", "http"))
        if problem is not None:
            await answer(send, *problem)
            return
        length = headers.get("content-length", "")
        if length.isdigit() and int(length) > MAX_BODY_BYTES:
            await answer(send, 413, f"a request body is at most {MAX_BODY_BYTES} bytes")
            return
        await self.app(scope, bounded(receive), with_security_headers(send))

    def problem(self, method: str, headers: dict[str, str], scheme: str) -> tuple[int, str] | None:
        host = headers.get("host", "")
        if host_name(host) not in self.allowed:
            return 400, "this server does not answer to that Host name"
        origin = headers.get("origin")
        own = origin_of(f"{scheme}://{host}")
        if origin is not None and (own is None or origin_of(origin) != own):  # "null" (a file page) too
            return 403, "requests from other sites are refused (the page's scheme, host and port must be this server's)"
        if method in STATE_CHANGING:
            media_type = headers.get("content-type", "").split(";")[0].strip().lower()
            if media_type != "application/json":
                return 415, "a request that changes something sends Content-Type: application/json"
        return None


def bounded(receive: Receive) -> Receive:
    """``receive`` that stops a body longer than MAX_BODY_BYTES (one sent
    without Content-Length, chunked) with a 413 answer."""
    seen = 0

    async def receive_bounded() -> Any:
        nonlocal seen
        message = await receive()
        if message["type"] == "http.request":
            seen += len(message.get("body", b""))
            if seen > MAX_BODY_BYTES:
                raise BodyTooLarge
        return message

    return receive_bounded


def with_security_headers(send: Send) -> Send:
    async def send_with_headers(message: Any) -> None:
        if message["type"] == "http.response.start":
            message = {**message, "headers": list(message.get("headers", [])) + SECURITY_HEADERS}
        await send(message)

    return send_with_headers


class BodyTooLarge(Exception):
    """A request body went past MAX_BODY_BYTES while it was read."""


async def answer(send: Send, status: int, message: str) -> None:
    body = json.dumps({"error": message}).encode()
    await send({"type": "http.response.start", "status": status,
                "headers": [(b"content-type", b"application/json"), (b"content-length", str(len(body)).encode())]})
    await send({"type": "http.response.body", "body": body})
