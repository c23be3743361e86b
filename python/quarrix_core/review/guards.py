"""ASGI middleware that every response passes through: a cap on request bodies
and headers that keep the browser from running or framing anything we did not serve."""

from __future__ import annotations

from starlette.datastructures import Headers
from starlette.responses import PlainTextResponse

MAX_BODY_BYTES = 64 * 1024

# Scripts and styles only from our own /static; no plug-ins, no framing, forms post only here.
CONTENT_SECURITY_POLICY = ("default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                           "connect-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'")
SECURITY_HEADERS = [
    (b"content-security-policy", CONTENT_SECURITY_POLICY.encode()),
    (b"x-content-type-options", b"nosniff"),
    (b"referrer-policy", b"no-referrer"),
    (b"x-frame-options", b"DENY"),
    (b"cache-control", b"no-store"),
]


class _BodyTooLarge(Exception):
    pass


class BodyLimit:
    """Refuse a request body over `limit` bytes, declared or streamed, with 413."""

    def __init__(self, app, limit: int = MAX_BODY_BYTES):
        self.app = app
        self.limit = limit

    async def __call__(self, scope, receive, send):
        if scope["type"] != "http":
            await self.app(scope, receive, send)
            return
        declared = Headers(scope=scope).get("content-length")
        if declared is not None:
            if not declared.isdigit():
                await PlainTextResponse("Bad Content-Length", status_code=400)(scope, receive, send)
                return
            if int(declared) > self.limit:
                await self._refuse(scope, receive, send)
                return
        received = 0
        started = False

        async def counted_receive():
            nonlocal received
            message = await receive()
            if message["type"] == "http.request":
                received += len(message.get("body", b""))
                if received > self.limit:
                    raise _BodyTooLarge
            return message

        async def watched_send(message):
            nonlocal started
            if message["type"] == "http.response.start":
                started = True
            await send(message)

        try:
            await self.app(scope, counted_receive, watched_send)
        except _BodyTooLarge:
            if not started:
                await self._refuse(scope, receive, send)

    async def _refuse(self, scope, receive, send):
        response = PlainTextResponse(f"Request body larger than {self.limit} bytes", status_code=413)
        await response(scope, receive, send)


class SecurityHeaders:
    def __init__(self, app):
        self.app = app

    async def __call__(self, scope, receive, send):
        if scope["type"] != "http":
            await self.app(scope, receive, send)
            return

        async def send_with_headers(message):
            if message["type"] == "http.response.start":
                names = {name for name, _ in message.get("headers", [])}
                extra = [(n, v) for n, v in SECURITY_HEADERS if n not in names]
                message = {**message, "headers": [*message.get("headers", []), *extra]}
            await send(message)

        await self.app(scope, receive, send_with_headers)
