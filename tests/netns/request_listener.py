#!/usr/bin/python3
"""Logs every discovery request seen in this network namespace: receive time (ms) and the
address it was sent to. Runs until killed or until its time limit."""
import socket
import sys
import time

log_path, port, limit_seconds = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)  # Linux value; older Pythons lack the name
sock.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
sock.bind(("0.0.0.0", port))
sock.settimeout(0.5)
print("ready", flush=True)
end = time.monotonic() + limit_seconds
with open(log_path, "w") as log:
    while time.monotonic() < end:
        try:
            data, ancillary, _, sender = sock.recvmsg(512, 256)
        except socket.timeout:
            continue
        for level, kind, value in ancillary:
            if level == socket.IPPROTO_IP and kind == IP_PKTINFO:
                destination = socket.inet_ntoa(value[8:12])
                log.write("%d %s\n" % (int(time.monotonic() * 1000), destination))
                log.flush()
