#!/usr/bin/python3
"""A foreign device on the discovery port that answers with only two lines."""
import socket
import sys
import time

port, limit_seconds = int(sys.argv[1]), float(sys.argv[2])
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("0.0.0.0", port))
sock.settimeout(0.5)
print("ready", flush=True)
end = time.monotonic() + limit_seconds
while time.monotonic() < end:
    try:
        data, sender = sock.recvfrom(512)
    except socket.timeout:
        continue
    sock.sendto(b"Tavin ZT Series - Application\r\nTavin ZT Series - Bootload\r\n", sender)
