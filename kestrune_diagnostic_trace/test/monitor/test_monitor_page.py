#!/usr/bin/env python3
"""The monitor's page in headless chromium while the scenario program runs.

Starts flow_monitor on a free port with the scenario's flow file plus a flow
whose id is markup and loads the page, which shows every flow STALE; then
starts the scenario program and checks that a card's data-level follows its
passes on /diagnostics, that point outcomes and runs follow its events, and
that the hostile flow id shows as text and runs nothing. Writes a screenshot
to --out and to $KESTRUNE_ARTIFACTS_DIR when set.

Exit status 77 (skipped) only when chromium or its driver is not installed.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import yaml

SKIPPED = 77
HOSTILE_ID = '<img src=x onerror=alert(1)>'
SCENARIO_FLOWS = ['grab_place_task', 'toilet', 'heartbeat']
DEADLINE_S = 30


def find_browser():
    for name in ('chromium', 'chromium-browser'):
        path = shutil.which(name)
        if path:
            return path
    return None


def write_config(bundled, directory, hostile):
    with open(bundled, encoding='utf-8') as source:
        config = yaml.safe_load(source)
    if hostile:
        config['workflows'].append({
            'flow_id': HOSTILE_ID,
            'diag_topic': '/kestrune/diag/hostile',
            'event_id': 9000,
            'flow_points': [{'point_id': '<b>bold</b>', 'event_id': 9001}],
        })
    path = os.path.join(directory, 'monitor_flows.yaml')
    with open(path, 'w', encoding='utf-8') as target:
        yaml.safe_dump(config, target)
    return path


def start_monitor(monitor, config):
    process = subprocess.Popen([monitor, '--config', config, '--port', '0'],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    deadline = time.monotonic() + DEADLINE_S
    lines = []
    # readline blocks, but the monitor prints its address or exits right after startup.
    while time.monotonic() < deadline:
        line = process.stdout.readline()
        if not line:
            break
        lines.append(line)
        match = re.search(r'serving (http://\S+/)', line)
        if match:
            return process, match.group(1)
    process.kill()
    raise RuntimeError('flow_monitor did not start:\n' + ''.join(lines))


def stop(process):
    if process.poll() is None:
        process.send_signal(2)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def make_driver(browser):
    # Imported here: a machine without the browser skips before needing selenium.
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = browser
    for argument in ('--headless=new', '--no-sandbox', '--disable-gpu',
                     '--disable-dev-shm-usage', '--window-size=1400,1000'):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service(shutil.which('chromedriver')), options=options)
    # Any alert the page would run is recorded rather than shown.
    driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {
        'source': 'window.__alerts = []; window.alert = (m) => window.__alerts.push(String(m));'})
    return driver


def wait_for(driver, what, predicate):
    from selenium.webdriver.support.ui import WebDriverWait
    try:
        return WebDriverWait(driver, DEADLINE_S, poll_frequency=0.1).until(lambda d: predicate())
    except Exception as error:  # a timeout, with what was awaited
        raise AssertionError('timed out waiting for ' + what) from error


def card(driver, flow_id):
    for element in driver.find_elements('css selector', 'section.card'):
        if element.get_attribute('data-flow-id') == flow_id:
            return element
    return None


def check_cards(driver, url, hostile):
    driver.get(url)
    expected = SCENARIO_FLOWS + ([HOSTILE_ID] if hostile else [])
    wait_for(driver, 'a card for every flow', lambda: all(card(driver, f) for f in expected))
    levels = {f: card(driver, f).get_attribute('data-level') for f in expected}
    assert set(levels.values()) == {'STALE'}, 'levels before any node reported: ' + repr(levels)

    if hostile:
        element = card(driver, HOSTILE_ID)
        title = element.find_element('css selector', 'h2').get_attribute('textContent')
        assert title.startswith(HOSTILE_ID), 'hostile id not shown as text: ' + repr(title)
        chip = element.find_element('css selector', '.point').text
        assert chip == '<b>bold</b>', 'point id not shown as text: ' + repr(chip)


def check_passes(driver, hostile):
    # Passes 1 to 3 of grab_place_task fail, pass 4 passes: the card must show both.
    seen = set()

    def levels_seen():
        seen.add(card(driver, 'grab_place_task').get_attribute('data-level'))
        return {'OK', 'ERROR'} <= seen
    wait_for(driver, 'data-level of grab_place_task to show ERROR and OK', levels_seen)
    wait_for(driver, 'data-level of toilet to leave STALE',
             lambda: card(driver, 'toilet').get_attribute('data-level') != 'STALE')
    wait_for(driver, 'a point of grab_place_task marked by an event',
             lambda: card(driver, 'grab_place_task').find_elements(
                 'css selector', '.point:not([data-outcome="none"])'))
    wait_for(driver, 'a failed run in the chart of grab_place_task',
             lambda: card(driver, 'grab_place_task').find_elements(
                 'css selector', 'svg.runs rect.failed'))
    if hostile:
        assert not driver.find_elements('css selector', 'main img, main b'), \
            'markup from the robot became elements'
        alerts = driver.execute_script('return window.__alerts')
        assert alerts == [], 'the page ran script from data: ' + repr(alerts)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--monitor', required=True)
    parser.add_argument('--scenario', required=True)
    parser.add_argument('--flow-config', required=True)
    parser.add_argument('--out', required=True, help='directory for the screenshot')
    parser.add_argument('--screenshot-name', default='monitor.png')
    parser.add_argument('--no-hostile', action='store_true',
                        help='leave out the hostile flow (for the documentation screenshot)')
    args = parser.parse_args()

    browser = find_browser()
    if not browser or not shutil.which('chromedriver'):
        print('SKIPPED: chromium or chromedriver is not installed')
        return SKIPPED

    hostile = not args.no_hostile
    processes = []
    driver = None
    scenario_log = None
    with tempfile.TemporaryDirectory() as directory:
        try:
            monitor, url = start_monitor(args.monitor,
                                         write_config(args.flow_config, directory, hostile))
            processes.append(monitor)
            driver = make_driver(browser)
            check_cards(driver, url, hostile)
            scenario_log = open(os.path.join(directory, 'scenario.log'), 'w+', encoding='utf-8')
            processes.append(subprocess.Popen([args.scenario], stdout=scenario_log,
                                              stderr=subprocess.STDOUT))
            check_passes(driver, hostile)
            # Let the scenario's passes reach the page before the picture.
            wait_for(driver, 'runs in the chart of grab_place_task',
                     lambda: len(card(driver, 'grab_place_task').find_elements(
                         'css selector', 'svg.runs rect')) >= 3)
            os.makedirs(args.out, exist_ok=True)
            targets = [os.path.join(args.out, args.screenshot_name)]
            if os.environ.get('KESTRUNE_ARTIFACTS_DIR'):
                os.makedirs(os.environ['KESTRUNE_ARTIFACTS_DIR'], exist_ok=True)
                targets.append(os.path.join(os.environ['KESTRUNE_ARTIFACTS_DIR'],
                                            args.screenshot_name))
            for target in targets:
                driver.save_screenshot(target)
                print('screenshot: ' + target)
        except AssertionError:
            # A scenario program that could not start explains most failures here.
            if processes[1:] and processes[1].poll() is not None:
                scenario_log.seek(0)
                print('trace_scenario_node exited early:\n' + scenario_log.read()[-2000:])
            raise
        finally:
            if driver:
                driver.quit()
            for process in reversed(processes):
                stop(process)
            if scenario_log:
                scenario_log.close()
    print('page checks passed')
    return 0


if __name__ == '__main__':
    sys.exit(main())
