#!/usr/bin/env python3
"""Holds connections open to a web server, as browsers with the page open and slow clients do:
IDLE connections that send nothing, and TRICKLE connections that send one byte of a request
head each second and never finish it. Prints "holding N" once all are open (some may have been
refused: N says how many are held), then keeps them until killed.

    hold_connections.py HOST PORT IDLE TRICKLE
"""
import resource
import socket
import sys
import time


def main():
    host, port, idle, trickle = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, max(soft, idle + trickle + 64)), hard))
    held, slow = [], []
    for n in range(idle + trickle):
        try:
            connection = socket.create_connection((host, port), timeout=5)
        except OSError:
            continue
        (slow if n >= idle else held).append(connection)
    print(f"holding {len(held) + len(slow)}", flush=True)
    head = f"GET /signin HTTP/1.1\r\nHost: {host}\r\nX-Slow: " + "a" * 4000
    position = 0
    while True:
        time.sleep(1)
        byte = head[position % len(head)].encode()
        position += 1
        for connection in list(slow):
            try:
                connection.send(byte)
            except OSError:
                slow.remove(connection)  # closed by the server: its head took too long


if __name__ == "__main__":
    main()
