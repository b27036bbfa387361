"""The inbox's pages as someone triaging reports sees them: a real service,
a headless Chromium driving the pages by their links, and the archive
fetched back through the browser's own download.

    cd tests/inbox && /usr/bin/python3 -m unittest -v test_browser

With SCREENSHOT_DIR set, the signature list, a report page and a report's
stack named by its symbols are saved there as PNG, so a CI run leaves
something a person can look at.
"""
import hashlib
import os
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import archives  # noqa: E402
from inbox_service import TOKEN, InboxService  # noqa: E402
from test_symbols import form as symbol_form, symbol_file  # noqa: E402

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
WAIT = 20  # seconds; generous, since the machine may be busy with a build

try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions as EC
    from selenium.webdriver.support.ui import WebDriverWait
    SELENIUM = None
except ImportError as error:  # reported as a skip below rather than as an import failure
    SELENIUM = error

HOSTILE_MESSAGE = "<script>alert(1)</script> caf\u00e9"
PLAIN_MESSAGE = "it closed while I was saving"


def missing_browser():
    if SELENIUM is not None:
        return f"Selenium cannot be imported ({SELENIUM}); install python3-selenium"
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.access(path, os.X_OK):
            return f"{path} is missing; install Debian's chromium and chromium-driver"
    return None


class BrowserTestCase(unittest.TestCase):
    """A service and a headless Chromium for each test."""
    service_module = "report_inbox"

    def setUp(self):
        reason = missing_browser()
        if reason:
            self.skipTest(reason)
        folder = tempfile.TemporaryDirectory(prefix="inbox-browser-")
        self.addCleanup(folder.cleanup)
        self.downloads = os.path.join(folder.name, "downloads")
        os.makedirs(self.downloads)

        self.inbox = InboxService(os.path.join(folder.name, "service"), module=self.service_module)
        self.inbox.__enter__()
        self.addCleanup(self.inbox.__exit__)

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                         "--disable-background-networking", "--disable-component-update", "--disable-sync",
                         "--disable-dev-shm-usage", "--window-size=1280,1000",
                         "--user-data-dir=" + os.path.join(folder.name, "profile")):
            options.add_argument(argument)
        options.add_experimental_option("prefs", {
            "download.default_directory": self.downloads,
            "download.prompt_for_download": False,
            "download.directory_upgrade": True,
            "safebrowsing.enabled": False,
        })
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        # Registered before anything else can fail, so no browser outlives the test.
        self.addCleanup(self.driver.quit)
        self.driver.set_page_load_timeout(WAIT)
        # Headless Chromium may ignore the download preferences without this.
        self.driver.execute_cdp_cmd("Page.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": self.downloads})
        self.wait = WebDriverWait(self.driver, WAIT)

    # Helpers

    def upload(self, user_msg, log_text):
        """Files one good report and answers its archive's bytes."""
        archive = archives.good(text=log_text)
        status, body = self.inbox.upload(archive, user_msg=user_msg, app_ver="dr20100201plugin_Drovan.exe")
        self.assertEqual((status, b"STATUS_REPORT_OK" in body), (200, True), body)
        return archive

    def open(self, path):
        self.driver.get(self.inbox.url(path))

    def element(self, css):
        return self.wait.until(EC.presence_of_element_located((By.CSS_SELECTOR, css)))

    def follow(self, link, then_css):
        """Clicks `link` and waits for the next page, recognised by `then_css`;
        waiting for the old page to go stale keeps a quick check from
        reading the page that was just left."""
        link.click()
        self.wait.until(EC.staleness_of(link))
        return self.element(then_css)

    def assert_sign_in_page(self, why):
        # Either page ends the wait, so a wrongly opened inbox fails with
        # `why` rather than as a timeout.
        self.element("#token, #signatures")
        self.assertEqual(len(self.driver.find_elements(By.ID, "signatures")), 0, why)
        self.assertNotIn("plugin_Drovan.dll", self.driver.page_source, why)

    def screenshot(self, name):
        folder = os.environ.get("SCREENSHOT_DIR")
        if not folder:
            return
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, name + ".png")
        self.assertTrue(self.driver.save_screenshot(path), f"no screenshot written to {path}")

    def downloaded(self, name):
        """The bytes of `name` once Chromium has finished writing it."""
        path = os.path.join(self.downloads, name)
        end = time.monotonic() + WAIT
        while time.monotonic() < end:
            present = os.listdir(self.downloads)
            if name in present and not any(f.endswith(".crdownload") for f in present):
                with open(path, "rb") as f:
                    return f.read()
            time.sleep(0.1)
        self.fail(f"{name} was not downloaded within {WAIT} s; the folder holds {os.listdir(self.downloads)}")



class InboxInBrowserTest(BrowserTestCase):
    def test_without_the_token_nothing_is_shown(self):
        # A report must exist, or an empty listing would pass for a refused one.
        self.upload(PLAIN_MESSAGE, "first")
        self.assertIn("signatures", self.inbox.api("/inbox/api/signatures"))

        self.open("/inbox/")
        self.assert_sign_in_page("the listing opened without the token")
        self.assertEqual(len(self.driver.find_elements(By.ID, "refused")), 0,
                         "a first visit is told off before presenting anything")
        signature_id = self.inbox.api("/inbox/api/signatures")["signatures"][0]["id"]
        self.open(f"/inbox/signatures/{signature_id}")
        self.assert_sign_in_page("a signature's page opened without the token")

        self.open("/inbox/")
        self.element("#token").send_keys("not-" + TOKEN)
        self.follow(self.element("#sign-in"), "#token, #signatures")
        self.assert_sign_in_page("a wrong token opened the listing")
        self.assertTrue(self.driver.find_elements(By.ID, "refused"), "a wrong token went unremarked")
        # Nor may the refused attempt have left a session behind.
        self.open("/inbox/")
        self.assert_sign_in_page("a wrong token left a session that opens the listing")
        self.open("/inbox/?token=not-" + TOKEN)
        self.assert_sign_in_page("a wrong token in the address opened the listing")
        self.assertTrue(self.driver.find_elements(By.ID, "refused"), "a wrong token went unremarked")

        for headers in ({}, {"Authorization": "Bearer not-" + TOKEN}, {"Authorization": TOKEN}):
            with self.subTest(headers=headers):
                status, body = self.inbox.request("GET", "/inbox/api/signatures", headers=headers)
                self.assertEqual(status, 401)
                self.assertNotIn(b"plugin_Drovan", body)
        status, _ = self.inbox.request("GET", "/inbox/reports/1/archive")
        self.assertEqual(status, 401, "the archive itself was handed out without the token")

        # The same form with the right token does open the inbox, so the
        # refusals above were about the token and not a broken form.
        self.open("/inbox/")
        self.element("#token").send_keys(TOKEN)
        self.follow(self.element("#sign-in"), "#signatures")
        self.assertIn("plugin_Drovan.dll", self.element("#signatures").text)

    def test_from_the_listing_to_a_downloaded_archive(self):
        uploaded = {}
        # The report followed below is the second, so serving the first
        # report's archive for every report cannot pass.
        for message, log_text in ((PLAIN_MESSAGE, "plain"), (HOSTILE_MESSAGE, "hostile")):
            archive = self.upload(message, log_text)
            uploaded[hashlib.sha256(archive).hexdigest()] = (archive, message, log_text)
        self.assertEqual(len(uploaded), 2, "the two archives should differ")

        self.open("/inbox/?token=" + TOKEN)
        table = self.element("#signatures")
        self.assertNotIn("token", self.driver.current_url, "the token stayed in the address bar")
        self.assertEqual(self.driver.current_url, self.inbox.url("/inbox/"))

        rows = table.find_elements(By.CSS_SELECTOR, "tbody tr")
        self.assertEqual(len(rows), 1, "both reports share one fault and belong under one signature")
        cells = [cell.text for cell in rows[0].find_elements(By.TAG_NAME, "td")]
        # Two reports from one install.
        self.assertEqual(cells[:6], ["2", "1", "plugin_Drovan.exe", "dr20100201", "0xc0000005",
                                     "plugin_Drovan.dll+0x2c86"])

        plot = self.element("#plot")
        loaded = self.wait.until(lambda driver: driver.execute_script(
            "const img = arguments[0]; return img.complete ? img.naturalWidth : null;", plot) is not None)
        self.assertTrue(loaded)
        self.assertGreater(self.driver.execute_script("return arguments[0].naturalWidth;", plot), 0,
                           "the per-day plot did not load as an image")
        self.screenshot("signatures")

        self.follow(rows[0].find_element(By.CSS_SELECTOR, "a.signature"), "#reports")
        report_rows = self.driver.find_elements(By.CSS_SELECTOR, "#reports tbody tr")
        self.assertEqual(len(report_rows), 2)
        hostile_rows = [row for row in report_rows if "<script>" in row.text]
        self.assertEqual(len(hostile_rows), 1, "the user's text is not shown literally in the report list")

        self.follow(hostile_rows[0].find_element(By.CSS_SELECTOR, "a.report"), "#user-msg")
        user_msg = self.driver.find_element(By.ID, "user-msg")
        self.assertEqual(user_msg.text, HOSTILE_MESSAGE)
        self.assertEqual(len(user_msg.find_elements(By.CSS_SELECTOR, "*")), 0,
                         "the user's text became markup on the report page")
        with self.assertRaises(NoAlertPresentException):
            self.driver.switch_to.alert.text

        sha256 = self.driver.find_element(By.ID, "sha256").text
        self.assertIn(sha256, uploaded, "the report page shows a digest of no uploaded archive")
        archive, message, log_text = uploaded[sha256]
        self.assertEqual(message, HOSTILE_MESSAGE, "the report page belongs to another report")
        crash_log = self.driver.find_element(By.ID, "crash-log").text
        self.assertIn("in module plugin_Drovan.dll", crash_log)
        self.assertIn("crash info: " + log_text, crash_log, "the crash log is another report's")
        self.screenshot("report")

        report_id = self.driver.current_url.rstrip("/").rsplit("/", 1)[-1]
        self.driver.find_element(By.ID, "download").click()
        self.assertEqual(self.downloaded(f"report-{report_id}.zip"), archive,
                         "the downloaded archive differs from the one uploaded")

    def test_deleting_a_report_and_then_its_signature_from_the_pages(self):
        kept = self.upload(PLAIN_MESSAGE, "kept")
        doomed = self.upload(HOSTILE_MESSAGE, "doomed")
        self.open("/inbox/?token=" + TOKEN)
        self.follow(self.element("#signatures a.signature"), "#reports")
        self.assertIn("2 reports from 1 install,", self.driver.find_element(By.TAG_NAME, "main").text)
        row = [r for r in self.driver.find_elements(By.CSS_SELECTOR, "#reports tbody tr") if "<script>" in r.text][0]
        self.follow(row.find_element(By.CSS_SELECTOR, "a.report"), "#delete-report")
        self.follow(self.element("#delete-report"), "#reports")
        rows = self.driver.find_elements(By.CSS_SELECTOR, "#reports tbody tr")
        self.assertEqual([PLAIN_MESSAGE in r.text for r in rows], [True], "the wrong report was deleted")
        digests = {r["archive_sha256"] for _, r in self.inbox.all_reports()}
        self.assertEqual(digests, {hashlib.sha256(kept).hexdigest()})
        self.assertNotIn(hashlib.sha256(doomed).hexdigest(), digests)
        self.follow(self.element("#delete-signature"), "main h1")
        self.assertEqual(self.driver.find_elements(By.ID, "signatures"), [])
        self.assertEqual(self.inbox.all_reports(), [])
        self.assertIn("deleted by the token holder", self.inbox.log())


class StackInBrowserTest(BrowserTestCase):
    """The report page's stack, its walker the stand-in of fake_walker."""
    service_module = "fake_walker"

    def stack_rows(self):
        return [[cell.text for cell in row.find_elements(By.TAG_NAME, "td")]
                for row in self.element("#stack").find_elements(By.CSS_SELECTOR, "tbody tr")]

    def test_the_stack_on_the_report_page_is_named_once_symbols_are_uploaded_and_it_is_walked_again(self):
        self.upload(PLAIN_MESSAGE, "stack")
        self.open("/inbox/?token=" + TOKEN)
        self.follow(self.element("#signatures a.signature"), "#reports")
        self.follow(self.element("#reports a.report"), "#stack")
        self.assertEqual(self.stack_rows(), [["0", "plugin_Drovan.dll+0x2c86", "—", "—", "exception context"],
                                             ["1", "plugin_Drovan.exe+0x1234", "—", "—", "stack scan"]])
        missing = self.element("#symbols-missing").text
        self.assertIn(f"plugin_Drovan.dll {archives.DLL_TIME_STAMP:08X}20000", missing)
        self.assertIn("plugin_Drovan.exe 0000000010000", missing)
        registers = self.element("#registers").text
        self.assertIn(f"eip 0x{archives.BASE + archives.OFFSET:08x}", registers)
        self.assertEqual(self.element("#signature").text, "plugin_Drovan.dll+0x2c86")

        body, headers = symbol_form(dict(module="plugin_Drovan.dll", time_stamp=str(archives.DLL_TIME_STAMP),
                                         image_size="0x20000"), symbol_file("crash_here", 42))
        status, answer = self.inbox.request("POST", "/inbox/api/symbols", body,
                                            dict(headers, Authorization="Bearer " + TOKEN))
        self.assertEqual(status, 201, answer)
        self.follow(self.element("#walk-again"), "#stack")
        self.assertEqual(self.stack_rows()[0], ["0", "plugin_Drovan.dll+0x2c86", "crash_here",
                                                "c:\\src\\plugin.cpp:42", "exception context"])
        self.assertNotIn("plugin_Drovan.dll", self.element("#symbols-missing").text)
        self.assertEqual(self.element("#signature").text, "plugin_Drovan.dll: crash_here")
        self.screenshot("report-stack")
        self.follow(self.element("#signature"), "#reports")
        self.assertIn("plugin_Drovan.dll: crash_here", self.element("main h1").text)
        self.open("/inbox/")
        self.assertEqual([row.text for row in self.driver.find_elements(By.CSS_SELECTOR, "#signatures a.signature")],
                         ["plugin_Drovan.dll: crash_here"], "the report's old signature outlived it")


if __name__ == "__main__":
    unittest.main()
