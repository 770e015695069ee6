#!/usr/bin/python3
"""The browser of the sign-in tests: opens the authorization address it is
given, consents on the provider's page (or declines, with CHEERPOST_TEST_CONSENT=no)
and follows the provider back to the program's loopback address, as a
person's browser would. Each address it opened is appended to the file named
by CHEERPOST_TEST_BROWSER_LOG, if set.

Usage: scripted_browser.py URL
"""
import os
import sys
import urllib.parse
import urllib.request


class NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


def main():
    url = sys.argv[-1]
    log = os.environ.get("CHEERPOST_TEST_BROWSER_LOG")
    if log:
        with open(log, "a") as f:
            f.write(url + "\n")
    query = dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(url).query))
    urllib.request.urlopen(url, timeout=30).read()  # the consent page
    consent = os.environ.get("CHEERPOST_TEST_CONSENT", "yes")
    form = urllib.parse.urlencode({"user": query.get("login_hint", ""), "confirm": consent}).encode()
    opener = urllib.request.build_opener(NoRedirect)
    try:
        opener.open(urllib.request.Request(url, data=form), timeout=30)
        return 1
    except urllib.error.HTTPError as e:  # the redirect back to the program
        if e.code not in (301, 302, 303, 307):
            return 1
        back = e.headers["Location"]
    urllib.request.urlopen(back, timeout=30).read()
    return 0


if __name__ == "__main__":
    sys.exit(main())
