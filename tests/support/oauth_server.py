#!/usr/bin/python3
"""An OAuth 2.0 authorization server on 127.0.0.1 for the sign-in tests, built
on Authlib's Flask integration: the authorization code grant with PKCE (S256
required), the refresh token grant, and token revocation (RFC 7009), for one
public client whose redirect may be any loopback port (RFC 8252 7.3).

The authorization page is a form; a browser consents by posting it back
(tests/support/scripted_browser.py does). /check?token=T tells the other
stand-ins whether an access token is live and whose it is.

Usage: oauth_server.py CLIENT_ID [--expires SECONDS]
Prints its port, then serves until its standard input closes.
"""
import argparse
import html
import logging
import os
import secrets
import time
from urllib.parse import urlparse

# Plain http to 127.0.0.1 only; the program's own rule is tested elsewhere.
os.environ["AUTHLIB_INSECURE_TRANSPORT"] = "1"
from authlib.integrations.flask_oauth2 import AuthorizationServer  # noqa: E402
from authlib.oauth2.rfc6749 import grants  # noqa: E402
from authlib.oauth2.rfc7009 import RevocationEndpoint  # noqa: E402
from authlib.oauth2.rfc7636 import CodeChallenge  # noqa: E402
from flask import Flask, jsonify, request  # noqa: E402
from werkzeug.serving import make_server  # noqa: E402

import standin  # noqa: E402


class Client:
    def __init__(self, client_id):
        self.client_id = client_id

    def get_client_id(self):
        return self.client_id

    def get_default_redirect_uri(self):
        return None

    def get_allowed_scope(self, scope):
        return scope

    def check_redirect_uri(self, uri):
        u = urlparse(uri)
        return u.scheme == "http" and u.hostname == "127.0.0.1" and u.port is not None

    def check_client_secret(self, secret):
        return False

    def check_endpoint_auth_method(self, method, endpoint):
        return method == "none"

    def check_response_type(self, response_type):
        return response_type == "code"

    def check_grant_type(self, grant_type):
        return grant_type in ("authorization_code", "refresh_token")


class Code:
    def __init__(self, **kw):
        self.__dict__.update(kw)

    def get_redirect_uri(self):
        return self.redirect_uri

    def get_scope(self):
        return self.scope

    def get_auth_time(self):
        return self.auth_time


class Token:
    def __init__(self, **kw):
        self.revoked = False
        self.__dict__.update(kw)

    def check_client(self, client):
        return client.client_id == self.client_id

    def get_scope(self):
        return self.scope

    def get_expires_in(self):
        return self.expires_in

    def is_expired(self):
        return time.time() > self.issued_at + self.expires_in

    def is_revoked(self):
        return self.revoked


CODES, ACCESS, REFRESH = {}, {}, {}


class CodeGrant(grants.AuthorizationCodeGrant):
    TOKEN_ENDPOINT_AUTH_METHODS = ["none"]

    def save_authorization_code(self, code, req):
        CODES[code] = Code(code=code, client_id=req.client.client_id, redirect_uri=req.redirect_uri,
                           scope=req.scope, user=req.user, auth_time=time.time(),
                           code_challenge=req.data.get("code_challenge"),
                           code_challenge_method=req.data.get("code_challenge_method"))

    def query_authorization_code(self, code, client):
        c = CODES.get(code)
        return c if c and c.client_id == client.client_id else None

    def delete_authorization_code(self, authorization_code):
        CODES.pop(authorization_code.code, None)

    def authenticate_user(self, authorization_code):
        return authorization_code.user


class RefreshGrant(grants.RefreshTokenGrant):
    TOKEN_ENDPOINT_AUTH_METHODS = ["none"]
    INCLUDE_NEW_REFRESH_TOKEN = False

    def authenticate_refresh_token(self, refresh_token):
        t = REFRESH.get(refresh_token)
        return t if t and not t.revoked else None

    def authenticate_user(self, credential):
        return credential.user

    def revoke_old_credential(self, credential):
        pass  # the refresh token stays valid, as Google's do: no new one is issued


class Revocation(RevocationEndpoint):
    CLIENT_AUTH_METHODS = ["none"]

    def query_token(self, token_string, token_type_hint):
        return REFRESH.get(token_string) or ACCESS.get(token_string)

    def revoke_token(self, token, req):
        # A revoked refresh token takes every access token of its grant along.
        token.revoked = True
        for t in list(ACCESS.values()) + list(REFRESH.values()):
            if t.grant == token.grant:
                t.revoked = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("client_id")
    ap.add_argument("--expires", type=int, default=3600)
    a = ap.parse_args()
    logging.getLogger("werkzeug").setLevel(logging.ERROR)
    app = Flask(__name__)
    app.config["OAUTH2_REFRESH_TOKEN_GENERATOR"] = True
    app.config["OAUTH2_TOKEN_EXPIRES_IN"] = {"authorization_code": a.expires, "refresh_token": a.expires}
    client = Client(a.client_id)

    def save_token(token, req):
        # A refresh keeps the grant of its refresh token; a code starts a new one.
        grant = getattr(getattr(req, "credential", None), "grant", None) or secrets.token_hex(8)
        common = dict(client_id=req.client.client_id, user=req.user, scope=token.get("scope", ""),
                      issued_at=time.time(), expires_in=token["expires_in"], grant=grant)
        ACCESS[token["access_token"]] = Token(**common)
        if "refresh_token" in token:
            REFRESH[token["refresh_token"]] = Token(**common)

    server = AuthorizationServer(app, query_client=lambda cid: client if cid == a.client_id else None,
                                 save_token=save_token)
    server.register_grant(CodeGrant, [CodeChallenge(required=True)])
    server.register_grant(RefreshGrant)
    server.register_endpoint(Revocation)

    @app.route("/authorize", methods=["GET", "POST"])
    def authorize():
        if request.method == "GET":
            try:
                server.get_consent_grant(end_user=None)
            except Exception as e:  # a bad request is shown, not redirected
                return f"<p>Bad authorization request: {html.escape(str(e))}</p>", 400
            hint = html.escape(request.args.get("login_hint", ""))
            return (f"<form method='post'><p>Let the program reach the mail and contacts of {hint}?</p>"
                    f"<input type='hidden' name='user' value='{hint}'>"
                    "<button name='confirm' value='yes'>Allow</button></form>")
        user = request.form.get("user") or "anna@example.org"
        return server.create_authorization_response(grant_user=user if request.form.get("confirm") == "yes" else None)

    @app.route("/token", methods=["POST"])
    def token():
        return server.create_token_response()

    @app.route("/revoke", methods=["POST"])
    def revoke():
        return server.create_endpoint_response(Revocation.ENDPOINT_NAME)

    @app.route("/check")
    def check():
        t = ACCESS.get(request.args.get("token", ""))
        live = t is not None and not t.revoked and not t.is_expired()
        return jsonify(active=live, user=t.user if live else None, scope=t.scope if live else None)

    httpd = make_server("127.0.0.1", 0, app, threaded=True)
    standin.serve(httpd)


if __name__ == "__main__":
    main()
