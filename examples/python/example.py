#!/usr/bin/env python3
"""A complete TessoraNet session: configure, mask the secrets in the traffic log (the setting
"log.secrets"), AUTHORIZE, create a charge and read it back, then an operation the endpoint file
does not name, caught without ending the process.

Settings come from the environment: TESSORA_ENVIRONMENT (e.g. "127.0.0.1:PORT/" for
tessora-sandbox), TESSORA_ENDPOINTS (default "endpoints.json"), TESSORA_CLIENT_ID and
TESSORA_CLIENT_SECRET (default the sandbox's). The output holds no token, and the charge's
creation time is masked, so it can be compared with expected-output.txt.
"""

import os
import re
import sys

try:
    import tessoranet
except ImportError:  # run from the source tree: the module lies in bindings/
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bindings"))
    import tessoranet


def masked(response):
    return re.sub(r'"created":\d+', '"created":<time>', response)


def main():
    environment = os.environ.get("TESSORA_ENVIRONMENT")
    if not environment:
        print("set TESSORA_ENVIRONMENT, e.g. 127.0.0.1:PORT/ for tessora-sandbox", file=sys.stderr)
        return 2
    tessoranet.load()
    print(f"TessoraNet {tessoranet.version()}")

    tessoranet.configure_service(os.environ.get("TESSORA_CLIENT_ID", "sandbox-client"),
                                 os.environ.get("TESSORA_CLIENT_SECRET", "sandbox-secret"),
                                 environment,
                                 os.environ.get("TESSORA_ENDPOINTS", "endpoints.json"))
    tessoranet.configure_proxy("", 0, "", "")  # no proxy

    # A library setting from code: "Call Logs.txt" then shows secrets and tokens masked.
    if not tessoranet.set_option("log.secrets", "masked"):
        print(f"log.secrets: refused: {tessoranet.last_error()}")
        return 1
    print(f"log.secrets: {tessoranet.get_option('log.secrets')}")

    tessoranet.call("AUTHORIZE")
    status = tessoranet.last_status()
    if status == 0:
        print(f"AUTHORIZE: no answer: {tessoranet.last_error()}")
        return 1
    print(f"AUTHORIZE: HTTP {status}, token received: {'yes' if tessoranet.access_token() else 'no'}"
          f", expired: {'yes' if tessoranet.token_expired() else 'no'}")

    charge = tessoranet.call("CHARGE_CREATE",
                             body='{"amount": 1250, "currency": "EUR", "description": "Order 1042"}')
    print(f"CHARGE_CREATE: HTTP {tessoranet.last_status()}")
    print(f"  {masked(charge)}")
    match = re.search(r'"id":"([^"]*)"', charge)
    charge_id = match.group(1) if match else ""

    detail = tessoranet.call("CHARGE_DETAIL", {"id": charge_id})
    print(f"CHARGE_DETAIL id={charge_id}: HTTP {tessoranet.last_status()}")
    print(f"  {masked(detail)}")

    try:
        tessoranet.try_call("REFUND_CREATE", {"id": charge_id})
        print("REFUND_CREATE: unexpectedly performed")
    except tessoranet.TessoraNetError as failure:
        print(f"REFUND_CREATE: failed: {failure}")
    print(f"  last status: {tessoranet.last_status()}, last error: {tessoranet.last_error()}")
    print("done")
    return 0


if __name__ == "__main__":
    sys.exit(main())
