"""Options of the browser walk-through and the multi-process test: the built program, the engine,
where screenshots go, the nginx program, and the axe-core script that checks each page (npm
axe-core's axe.min.js; $KV_AXE_JS by default)."""
import os


def pytest_addoption(parser):
    parser.addoption("--kvaction", required=True, help="the built kvaction program")
    parser.addoption("--engine", default="sqlite", choices=["sqlite", "postgresql"])
    parser.addoption("--screenshots", default="", help="folder for the README's screenshots")
    parser.addoption("--nginx", default="/usr/sbin/nginx", help="the nginx program")
    parser.addoption("--axe", default=os.environ.get("KV_AXE_JS", ""),
                     help="axe-core's axe.min.js: every page visited is checked with it")
