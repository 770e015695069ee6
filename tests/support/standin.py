"""How the tests' own servers run: in a thread of this process, the port
printed for the test to read, until the test closes standard input (and
never longer than 10 minutes)."""
import select
import sys
import threading


def serve(server, seconds=600):
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    select.select([sys.stdin], [], [], seconds)
    server.shutdown()
