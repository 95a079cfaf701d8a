#!/usr/bin/env python3
"""Serves the built web page (build-web/site/) to this machine only, on port 8000 or, when
that is taken, the next free one, and says which. Ctrl-C stops it.

    scripts/serve-web.py SITE_DIR [FIRST_PORT]
"""
import errno
import functools
import http.server
import sys

HOST = '127.0.0.1'
PORTS_TRIED = 100  # 8000 to 8099


def main():
    site = sys.argv[1]
    first = int(sys.argv[2]) if len(sys.argv) > 2 else 8000
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=site)
    for port in range(first, first + PORTS_TRIED):
        try:
            server = http.server.ThreadingHTTPServer((HOST, port), handler)
            break
        except OSError as error:
            if error.errno != errno.EADDRINUSE:
                sys.exit(f'cannot serve on port {port}: {error.strerror}')
    else:
        sys.exit(f'ports {first} to {first + PORTS_TRIED - 1} are all busy')
    if port != first:
        print(f'Port {first} is busy; serving on the next free one.')
    print(f'Open http://{HOST}:{port}/ in a browser; Ctrl-C stops the server.', flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == '__main__':
    main()
