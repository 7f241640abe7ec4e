#!/usr/bin/python3
"""A small obs-websocket 5 client for the installed OBS test.

Connects to OBS Studio on 127.0.0.1, identifies with the password, then sends
the requests given as JSON ([{"requestType": ..., "requestData": {...}}, ...])
one after the other. Prints each response's data as one JSON line; a
screenshot's image is written to the file named by "saveTo" instead. Exits
non-zero when OBS does not answer within the time limit or a request fails.
"""
import argparse
import asyncio
import base64
import hashlib
import json
import sys
import time

import websockets


def authentication(password, auth):
    secret = base64.b64encode(hashlib.sha256((password + auth["salt"]).encode()).digest())
    return base64.b64encode(hashlib.sha256(secret + auth["challenge"].encode()).digest()).decode()


async def connect(port, deadline):
    while True:
        try:
            return await websockets.connect(f"ws://127.0.0.1:{port}", subprotocols=["obswebsocket.json"],
                                            max_size=64 * 1024 * 1024)
        except OSError:
            if time.monotonic() > deadline:
                raise
            await asyncio.sleep(0.2)


async def run(args):
    socket = await connect(args.port, time.monotonic() + args.timeout)
    try:
        return await talk(socket, args)
    finally:
        await socket.close()


async def talk(socket, args):
    hello = json.loads(await socket.recv())["d"]
    identify = {"rpcVersion": 1, "eventSubscriptions": 0}
    if "authentication" in hello:
        identify["authentication"] = authentication(args.password, hello["authentication"])
    await socket.send(json.dumps({"op": 1, "d": identify}))
    identified = json.loads(await socket.recv())
    if identified.get("op") != 2:
        print(f"not identified: {identified}", file=sys.stderr)
        return 1
    for number, request in enumerate(json.loads(args.requests)):
        save_to = request.pop("saveTo", None)
        await socket.send(json.dumps({"op": 6, "d": dict(request, requestId=str(number))}))
        while True:
            answer = json.loads(await socket.recv())
            if answer.get("op") == 7 and answer["d"].get("requestId") == str(number):
                break
        status = answer["d"]["requestStatus"]
        data = answer["d"].get("responseData") or {}
        if not status.get("result"):
            print(f"{request['requestType']} failed: {status}", file=sys.stderr)
            return 1
        if save_to is not None:
            with open(save_to, "wb") as image:
                image.write(base64.b64decode(data.pop("imageData").split(",", 1)[1]))
        print(json.dumps({request["requestType"]: data}))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=4455)
    parser.add_argument("--password", required=True)
    parser.add_argument("--timeout", type=float, default=60.0, help="seconds to wait for OBS's server")
    parser.add_argument("requests", help="the requests as a JSON list")
    args = parser.parse_args()
    try:
        return asyncio.run(asyncio.wait_for(run(args), args.timeout + 60))
    except (OSError, asyncio.TimeoutError, websockets.exceptions.WebSocketException) as error:
        print(f"obs-websocket: {error!r}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
