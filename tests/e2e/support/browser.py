"""A real headless Chromium under ChromeDriver, driven by Selenium, both on
ports of the test port allocator."""
import os
import sys

sys.path.insert(0, os.path.dirname(__file__))
import test_ports  # noqa: E402

from selenium import webdriver  # noqa: E402
from selenium.common.exceptions import WebDriverException  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402


def start_browser(profile_folder, page_load_strategy="normal"):
    """Started again on other ports when one was taken in between."""
    for attempt in range(3):
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                         "--disable-background-networking", "--disable-component-update", "--disable-sync",
                         "--user-data-dir=%s" % os.path.join(str(profile_folder), "profile-%d" % attempt),
                         "--remote-debugging-port=%d" % test_ports.take_one()):
            options.add_argument(argument)
        options.page_load_strategy = page_load_strategy
        service = Service(executable_path="/usr/bin/chromedriver", port=test_ports.take_one())
        try:
            return webdriver.Chrome(service=service, options=options)
        except WebDriverException:
            if attempt == 2:
                raise
