#!/usr/bin/env python3
"""How often a SIGKILL during a stream of large records leaves part of a
record at the end of the session file, and whether morvanec recover closes
every such file into well-formed XML.

    bench/kill_partial.py BUILD/bin [KILLS]

Each run starts the real Morvane in a program directory of its own, opens a
session, streams write requests of a 254-field record (about 14 KB of XML
per record element) and kills the server with SIGKILL a random moment into
the stream. Uses a loopback port; run it inside `unshare -n` (after
`ip link set lo up`) to keep clear of other servers.
"""
import os, random, shutil, signal, socket, struct, subprocess, sys, tempfile, threading, time
import xml.etree.ElementTree as ET

FIELDS = 254
SCHEMA_ID = 5


def frame(msg_id, body):
    return struct.pack("<ii", msg_id, 8 + len(body)) + body


def program_dir(bin_dir, port):
    d = tempfile.mkdtemp(prefix="kill_partial.")
    for name in ("Morvane", "libquillog.so"):
        shutil.copy2(os.path.join(bin_dir, name), d)
    for sub in ("Schemas", "ResultsInclude", "ResultsEmptyXml", "XML_Data"):
        os.mkdir(os.path.join(d, sub))
    items = "".join('   <Item name="value%03d" type="int"/>\n' % i for i in range(FIELDS))
    with open(os.path.join(d, "Schemas", "Big.xsd"), "w") as f:
        f.write('<?xml version="1.0"?>\n<Schema name="Big" id="%d">\n%s</Schema>\n' % (SCHEMA_ID, items))
    with open(os.path.join(d, "Morvane.ini"), "w") as f:
        f.write("[General]\nPort=%d\nLogFlag=0\nCreateFilesFlag=0\n" % port)
    return d


def connect(port, deadline=30.0):
    end = time.time() + deadline
    while time.time() < end:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=10)
        except OSError:
            time.sleep(0.02)
    raise RuntimeError("Morvane does not listen on %d" % port)


def main():
    bin_dir = sys.argv[1]
    kills = int(sys.argv[2]) if len(sys.argv) > 2 else 30
    morvanec = os.path.join(bin_dir, "morvanec")
    rng = random.Random(1413)
    port = 25000 + rng.randrange(2000)
    record = b"".join(struct.pack("<i", -1000000 - i * 7919) for i in range(FIELDS))
    stream = b"".join(frame(6, struct.pack("<i", SCHEMA_ID) + record) for _ in range(3000))
    partial = recovered = 0
    sizes = []
    for k in range(kills):
        d = program_dir(bin_dir, port)
        server = subprocess.Popen([os.path.join(d, "Morvane")], cwd=d,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            client = connect(port)
            client.sendall(frame(4, b"kill.xml\0"))
            sender = threading.Thread(target=lambda: client.sendall(stream), daemon=True)
            sender.start()
            path = os.path.join(d, "XML_Data", "kill.xml")
            end = time.time() + 30
            while (not os.path.exists(path) or os.path.getsize(path) < 200000) and time.time() < end:
                time.sleep(0.001)
            time.sleep(rng.random() * 0.05)
            server.send_signal(signal.SIGKILL)
            server.wait(30)
            client.close()
            with open(path, "rb") as f:
                text = f.read()
            sizes.append(len(text))
            cut = not text.endswith(b"</Schema>\n")
            partial += cut
            r = subprocess.run([morvanec, "recover", path], capture_output=True, text=True, timeout=60)
            ET.parse(path)  # raises when the recovered file is not well-formed
            whole = open(path, "rb").read()
            ok = r.returncode == 0 and whole.endswith(b"</Schema>\n</Root>\n")
            recovered += ok
            print("kill %2d: %9d bytes, %s; recover: %s" % (k + 1, len(text),
                  "part of a record at the end" if cut else "ends on a whole record", r.stderr.strip()))
        finally:
            if server.poll() is None:
                server.kill()
                server.wait()
            shutil.rmtree(d, ignore_errors=True)
    print("%d of %d kills left part of a record; recover closed %d of %d files into well-formed XML"
          % (partial, kills, recovered, kills))
    return 0 if recovered == kills else 1


if __name__ == "__main__":
    sys.exit(main())
