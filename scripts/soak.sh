#!/usr/bin/env bash
# Soak: update-all rounds of the command-line program for MINUTES against a server on this
# machine of 2,000 item pages (5 % of answers fail, 2 % change price), while a second process
# keeps exporting and reading the grid from the same database. Prints the memory of a round
# (peak resident size of the round's process) after round 2 and at the end, the file's growth,
# rounds, readings, failures, "locked" messages and the integrity check.
#   scripts/soak.sh MINUTES [path/to/vantero-cli]
set -euo pipefail
minutes=${1:?usage: scripts/soak.sh MINUTES [vantero-cli]}
cli=${2:-$(cd "$(dirname "$0")/.." && pwd)/build/vantero-cli}
[[ -x $cli ]] || { echo "no program at $cli (build the vantero-cli target)" >&2; exit 2; }
exec python3 - "$minutes" "$cli" <<'PY'
import http.server, os, random, socketserver, sqlite3, subprocess, sys, tempfile, threading, time

minutes, cli = float(sys.argv[1]), sys.argv[2]
OWN, RIVALS, ITEMS = "myshop", ["rivala", "rivalb", "rivalc", "rivald"], 400  # 400 + 4 x 400 pages
rng = random.Random(25)
prices = {}
lock = threading.Lock()

def page(seller, item_id, price):
    html = ('<html><head><meta charset="gbk"></head><body>\n'
            f'<input type="hidden" name="title" value="宝贝 {item_id} 纯棉长袖衬衫" />\n'
            f'<input type="hidden" name="seller_nickname" value="{seller}" />\n'
            f'<input type="hidden" name="current_price" value= "{price:.2f}" />\n'
            f'<input type="hidden" name="item_id_num" value="{item_id}" />\n'
            '<li><span>30天售出：</span><em>7</em>件</li>\n' + "<p>其余部分</p>\n" * 200 + '</body></html>\n')
    return html.encode("gbk")

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *args):
        pass
    def do_GET(self):
        parts = self.path.strip("/").split("/")  # seller/item
        if len(parts) != 2:
            self.send_error(404); return
        seller, item = parts
        with lock:
            fail = rng.random() < 0.05
            if rng.random() < 0.02:
                prices[self.path] = round(rng.uniform(5, 500), 2)
            price = prices.setdefault(self.path, round(rng.uniform(5, 500), 2))
        if fail:
            body = b"busy"
            self.send_response(503)
        else:
            body = page(seller, item, price)
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=gbk")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

server = Server(("127.0.0.1", 0), Handler)
threading.Thread(target=server.serve_forever, daemon=True).start()
base = f"http://127.0.0.1:{server.server_address[1]}"

work = tempfile.mkdtemp(prefix="vantero-soak-")
db = os.path.join(work, "vanteroData.mdb")
subprocess.run([cli, "--db", db, "settings", "--own-account", OWN], check=True,
               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
con = sqlite3.connect(db)
con.executemany("INSERT INTO Rival (RivalWW, ShopURL) VALUES (?, ?)", [(r, f"{base}/shop/{r}") for r in RIVALS])
for i in range(ITEMS):
    own = str(100000 + i)
    con.execute("INSERT INTO Items (ItemID, ItemName, URL, Price, SellCount) VALUES (?, ?, ?, 1, 0)",
                (own, f"宝贝 {own}", f"{base}/{OWN}/{own}"))
    for n, r in enumerate(RIVALS):
        rid = str(500000 + i * 10 + n)
        con.execute("INSERT INTO RivalItems (RivalWW, LocalItemID, RivalItemID, ItemName, URL, Price, SellCount) "
                    "VALUES (?, ?, ?, ?, ?, 5, 0)", (r, own, rid, f"同行 {rid}", f"{base}/{r}/{rid}"))
con.commit(); con.close()

def size():
    return sum(os.path.getsize(db + s) for s in ("", "-wal") if os.path.exists(db + s))

def run_measured(args):
    p = subprocess.Popen([cli, "--db", db] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=work)
    out, err = p.stdout.read(), p.stderr.read()
    _, status, usage = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    return p.returncode, usage.ru_maxrss, out.decode(), err.decode()

stop = threading.Event()
side = {"exports": 0, "grids": 0, "locked": 0, "errors": 0}
def second_process():
    n = 0
    while not stop.is_set():
        n += 1
        for args in (["export", "grid", "--xlsx", os.path.join(work, "grid.xlsx")], ["grid", "--csv"]):
            code, _, _, err = run_measured(args)
            side["exports" if args[0] == "export" else "grids"] += 1
            side["locked"] += err.count("另一个程序")
            side["errors"] += code != 0
        time.sleep(1)
threading.Thread(target=second_process, daemon=True).start()

end = time.time() + minutes * 60
rounds = readings = failures = locked = 0
rss2 = size2 = None
rss = []
start_size = size()
while rounds < 2 or time.time() < end:
    code, peak, out, err = run_measured(["update-all"])
    rounds += 1
    locked += err.count("另一个程序")
    tally = dict(kv.split("=") for kv in out.split("\n")[0].split())
    readings += int(tally.get("readings", 0)); failures += int(tally.get("failed", 0))
    rss.append(peak)
    print(f"round {rounds}: exit {code}, {out.splitlines()[0] if out else '-'}, peak RSS {peak / 1024:.1f} MiB, "
          f"file {size() / 1048576:.1f} MiB", flush=True)
    if rounds == 2:
        rss2, size2 = peak, size()
stop.set()
time.sleep(2)
check = sqlite3.connect(db).execute("PRAGMA integrity_check").fetchone()[0]
growth = (rss[-1] - rss2) / rss2 * 100
print(f"minutes={minutes:g} rounds={rounds} readings={readings} failures={failures} "
      f"({failures / max(readings, 1) * 100:.1f} %)")
print(f"RSS after round 2: {rss2 / 1024:.1f} MiB; at the end: {rss[-1] / 1024:.1f} MiB; growth {growth:+.1f} %")
print(f"file: {start_size / 1048576:.2f} MiB at start, {size2 / 1048576:.2f} MiB after round 2, "
      f"{size() / 1048576:.2f} MiB at the end")
print(f"second process: {side['exports']} exports, {side['grids']} grid reads, {side['errors']} failed")
print(f"locked: {locked + side['locked']}")
print(f"integrity: {check}")
sys.exit(0 if check == "ok" and locked + side["locked"] == 0 and growth <= 5 else 1)
PY
