"""A real third-party WebSocket client (python3-websockets) for the server tests.

usage: ws_client.py PORT ACTION
  handshake  open the connection and close it
  video      send one cast video message (time stamp 256, 995 content bytes)
  ping       send a ping with b"abc" and wait for its pong
  fragments  send one cast video message (time stamp 0xFFFFFFFF, 3000 content bytes) in
             three fragments
  close      close with status 1000 and check that the server's close frame echoes it
Prints what it did; exits non-zero on any failure.
"""
import asyncio
import sys

import websockets


def pattern(size):
    return bytes((i * 7 + i // 251) & 0xFF for i in range(size))


async def main(port, action):
    uri = f"ws://127.0.0.1:{port}/"
    async with websockets.connect(uri, compression=None, open_timeout=10, close_timeout=1) as ws:
        print("open", flush=True)
        if action == "video":
            await ws.send(bytes([0, 0, 0, 1, 0]) + pattern(995))
        elif action == "ping":
            waiter = await ws.ping(b"abc")
            await asyncio.wait_for(waiter, 5)
            print("pong", flush=True)
        elif action == "fragments":
            message = bytes([0, 0xFF, 0xFF, 0xFF, 0xFF]) + pattern(3000)
            await ws.send([message[:1000], message[1000:2000], message[2000:]])
        elif action == "close":
            await ws.close(code=1000, reason="done")
            # Without the server's close frame the library reports 1006 (abnormal closure).
            print(f"close code {ws.close_code}", flush=True)
            if ws.close_code != 1000:
                raise SystemExit(1)
            return
        elif action != "handshake":
            raise SystemExit(f"unknown action {action}")
        # The server reads frames in order: a pong proves it has handled what came before.
        waiter = await ws.ping(b"sync")
        await asyncio.wait_for(waiter, 5)
        print("done", flush=True)


if __name__ == "__main__":
    asyncio.run(main(int(sys.argv[1]), sys.argv[2]))
