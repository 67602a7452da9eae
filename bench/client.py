#!/usr/bin/env python3
"""Client side of the benchmarks that wrk and curl cannot do (standard library only, loopback only).

  client.py idle URL N HOLD_S PID
      Opens N keep-alive connections, sends one GET of URL on each and reads the answer, holds them
      idle HOLD_S seconds. Prints: opened alive rss_before_kib rss_after_kib (RSS of PID and its
      descendants, before the first connection and at the end of the hold).
  client.py hold URL N MAX_S PID
      Opens N keep-alive connections as idle does and prints "ready opened rss_before_kib
      rss_with_kib" as soon as they are all open; holds them until SIGTERM (at most MAX_S seconds),
      then prints "alive COUNT" and closes them.
  client.py thumbs FOLDER_URL COUNT [TIMEOUT_S]
      The folder page of COUNT pictures: sets the page size to COUNT with the page's own form (the
      first request), then asks for the page again until it answers 200 instead of 202.
      Prints: ms_until_200 requests thumbnails_on_page
  client.py pagesize FOLDER_URL COUNT
      A session whose folder pages show COUNT entries: asks for the page, names the session the
      answer handed out and sets its page size with the page's form, on one connection.
      Prints the cookie (ID=...).
"""
import http.client, os, re, select, signal, socket, ssl, sys, time, urllib.parse


def connect(u, timeout=30):
    port = u.port or (443 if u.scheme == "https" else 80)
    if u.hostname not in ("127.0.0.1", "localhost", "::1"):
        sys.exit("client.py: loopback URLs only")
    if u.scheme == "https":
        return http.client.HTTPSConnection(u.hostname, port, timeout=timeout,
                                           context=ssl._create_unverified_context())
    return http.client.HTTPConnection(u.hostname, port, timeout=timeout)


def tree_rss_kib(pid):
    children = {}
    for d in os.listdir("/proc"):
        if d.isdigit():
            try:
                with open(f"/proc/{d}/stat") as f:
                    ppid = int(f.read().rsplit(")", 1)[1].split()[1])
                children.setdefault(ppid, []).append(int(d))
            except OSError:
                pass
    total, todo = 0, [pid]
    while todo:
        p = todo.pop()
        todo.extend(children.get(p, []))
        try:
            with open(f"/proc/{p}/status") as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def still_open(sock):
    # poll, not select: descriptors of thousands of connections lie beyond select's 1024.
    p = select.poll()
    p.register(sock, select.POLLIN)
    if not p.poll(0):
        return True
    try:
        return sock.recv(1, socket.MSG_PEEK) != b""
    except OSError:
        return False


def open_idle(u, n):
    """N connections that each fetched u once: (connections, how many answered 2xx)."""
    conns, opened = [], 0
    for _ in range(n):
        c = connect(u, 10)
        try:
            c.request("GET", u.path or "/")
            r = c.getresponse()
            r.read()
            if 200 <= r.status < 300:
                opened += 1
            conns.append(c)
        except (OSError, http.client.HTTPException):
            c.close()
    return conns, opened


def alive_count(conns):
    return sum(1 for c in conns if c.sock is not None and still_open(c.sock))


def idle(url, n, hold, pid):
    u = urllib.parse.urlsplit(url)
    before = tree_rss_kib(pid)
    conns, opened = open_idle(u, n)
    time.sleep(hold)
    after = tree_rss_kib(pid)
    alive = alive_count(conns)
    for c in conns:
        c.close()
    print(opened, alive, before, after)


def hold(url, n, limit, pid):
    u = urllib.parse.urlsplit(url)
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    before = tree_rss_kib(pid)
    conns, opened = open_idle(u, n)
    print("ready", opened, before, tree_rss_kib(pid), flush=True)
    end = time.monotonic() + limit
    while not stop and time.monotonic() < end:
        time.sleep(0.1)
    print("alive", alive_count(conns), flush=True)
    for c in conns:
        c.close()


def thumbs(url, count, timeout):
    u = urllib.parse.urlsplit(url)
    c = connect(u)
    start = time.monotonic()
    c.request("POST", u.path, body=f"a=c&cv={count}",
              headers={"Content-Type": "application/x-www-form-urlencoded"})
    r = c.getresponse()
    page = r.read()
    m = re.search(r"ID=(\d+)", r.getheader("Set-Cookie") or "")
    cookie = "ID=" + m.group(1) if m else ""
    status, requests = r.status, 1
    while status == 202 and time.monotonic() - start < timeout:
        time.sleep(0.005)
        c.request("GET", u.path, headers={"Cookie": cookie})
        r = c.getresponse()
        page = r.read()
        status, requests = r.status, requests + 1
    elapsed = (time.monotonic() - start) * 1000
    made = len(re.findall(rb'src="/_t/', page))
    if status != 200:
        elapsed = float("nan")
    print(f"{elapsed:.1f}", requests, made)


def session(c, path):
    c.request("GET", path)
    r = c.getresponse()
    r.read()
    m = re.search(r"ID=(\d+)", r.getheader("Set-Cookie") or "")
    return "ID=" + m.group(1) if m else ""


def pagesize(url, count):
    u = urllib.parse.urlsplit(url)
    c = connect(u)
    cookie = session(c, u.path)
    c.request("POST", u.path, body=f"a=c&cv={count}",
              headers={"Content-Type": "application/x-www-form-urlencoded", "Cookie": cookie})
    c.getresponse().read()
    print(cookie)


def main():
    if len(sys.argv) >= 6 and sys.argv[1] == "idle":
        idle(sys.argv[2], int(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5]))
    elif len(sys.argv) >= 6 and sys.argv[1] == "hold":
        hold(sys.argv[2], int(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5]))
    elif len(sys.argv) >= 4 and sys.argv[1] == "thumbs":
        thumbs(sys.argv[2], int(sys.argv[3]), float(sys.argv[4]) if len(sys.argv) > 4 else 120)
    elif len(sys.argv) >= 4 and sys.argv[1] == "pagesize":
        pagesize(sys.argv[2], int(sys.argv[3]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
