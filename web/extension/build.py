#!/usr/bin/env python3
"""Builds the browser extension from its one source folder (web/extension).

  build.py --out DIR --version 1.15.3.9 --chrome-key BASE64 --gecko-id ID
           [--sites "https://www.tavrine.example,https://*.tavrine.example"]

writes DIR/chrome (Manifest V3 with a service worker and the public key that fixes the
extension ID for Chrome and Edge) and DIR/firefox (Manifest V3 with background scripts
and the gecko ID). The key and the ID are the build's (cmake/ExtensionIdentity.cmake),
which the native host is built to serve. The content script runs on the https pages of
the sites only; an empty site list means the documented default below (the service's
own sites).
"""
import argparse
import json
import os
import re
import shutil
import sys

DEFAULT_SITES = ["https://www.tavrine.example", "https://*.tavrine.example"]
SITE = re.compile(r"^https://(\*\.)?([A-Za-z0-9-]+(?:\.[A-Za-z0-9-]+)*)(?::([1-9][0-9]{0,4}))?/?$")
SOURCES = ["rules.js", "content.js", "background.js"]


def match_patterns(sites):
    """Content-script patterns. They carry no port (Firefox takes none, Chrome matches
    every port without one), and "*.suffix" matches the suffix itself as well: the
    content script and the background hold each page to the site list exactly."""
    patterns = []
    for site in sites:
        m = SITE.match(site)
        if not m:
            sys.exit("build.py: %r is not https://host[:port] or https://*.suffix[:port]" % site)
        pattern = "https://%s%s/*" % (m.group(1) or "", m.group(2).lower())
        if pattern not in patterns:
            patterns.append(pattern)
    return patterns


def manifest(kind, version, patterns, chrome_key, gecko_id):
    content = {"matches": patterns, "js": ["sites.js", "rules.js", "content.js"],
               "run_at": "document_start", "all_frames": False}
    m = {
        "manifest_version": 3,
        "name": "Tavrine 파일 공유",
        "description": "Tavrine 파일 공유 서비스의 페이지가 파일을 고르고 전송 프로그램에 작업을 넘기게 합니다.",
        "version": version,
        "content_scripts": [content],
    }
    if kind == "chrome":
        m["key"] = chrome_key
        m["minimum_chrome_version"] = "109"
        m["permissions"] = ["nativeMessaging", "contentSettings"]
        m["background"] = {"service_worker": "background.js"}
    else:
        m["permissions"] = ["nativeMessaging"]
        # Firefox shows MV3 host permissions at installation from 127 on; listed here
        # as well so that the content script's sites are granted with the extension.
        m["host_permissions"] = patterns
        m["background"] = {"scripts": ["sites.js", "rules.js", "background.js"]}
        m["browser_specific_settings"] = {"gecko": {"id": gecko_id, "strict_min_version": "128.0"}}
    return m


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--sites", default="")
    parser.add_argument("--chrome-key", required=True, help="base64 DER public key (the manifest's \"key\")")
    parser.add_argument("--gecko-id", required=True, help="the Firefox add-on ID")
    args = parser.parse_args()
    sites = [s.strip() for s in args.sites.split(",") if s.strip()] or DEFAULT_SITES
    patterns = match_patterns(sites)
    here = os.path.dirname(os.path.abspath(__file__))
    for kind in ("chrome", "firefox"):
        out = os.path.join(args.out, kind)
        os.makedirs(out, exist_ok=True)
        for name in SOURCES:
            shutil.copyfile(os.path.join(here, name), os.path.join(out, name))
        with open(os.path.join(out, "sites.js"), "w", encoding="utf-8") as f:
            f.write("// Made by build.py from the build's site list.\n")
            f.write("var TAVRINE_SITES = %s;\n" % json.dumps(sites))
            f.write("var TAVRINE_EXTENSION_VERSION = %s;\n" % json.dumps(args.version))
        with open(os.path.join(out, "manifest.json"), "w", encoding="utf-8") as f:
            json.dump(manifest(kind, args.version, patterns, args.chrome_key, args.gecko_id), f, ensure_ascii=False, indent=2)
            f.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
