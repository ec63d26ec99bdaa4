#!/usr/bin/env python3
"""The monitor's page in headless chromium, with any event stream blocked.

First a record replayed by flow_monitor --replay: a flow whose id and name are
markup must show as text, the point a running run waits for and a timeout
must be marked, a verdict named by its outcome, and a card gone STALE must
say how old its message is and grey it out. Then the live program: starts
flow_monitor on a free port with the scenario's flow file plus the hostile
flow and loads the page, which shows every flow STALE; then starts the
scenario program and checks that a card's data-level follows its passes on
/diagnostics and that point outcomes and runs follow its events. Writes a
screenshot to --out and to $KESTRUNE_ARTIFACTS_DIR when set.

Exit status 77 (skipped) only when chromium or its driver is not installed.
"""
import argparse
import json
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
HOSTILE_NAME = '<b>bold name</b>'
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
            'flow_name': HOSTILE_NAME,
            'diag_topic': '/kestrune/diag/hostile',
            'event_id': 9000,
            'flow_points': [{'point_id': '<b>bold</b>', 'event_id': 9001}],
        })
    path = os.path.join(directory, 'monitor_flows.yaml')
    with open(path, 'w', encoding='utf-8') as target:
        yaml.safe_dump(config, target)
    return path


def start_monitor(monitor, config, *extra):
    process = subprocess.Popen([monitor, '--config', config, '--port', '0', *extra],
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
    # A proxy that buffers streams: nothing streamed may be needed to draw.
    driver.execute_cdp_cmd('Network.enable', {})
    driver.execute_cdp_cmd('Network.setBlockedURLs', {'urls': ['*/api/stream*']})
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


def write_record(directory):
    """A record of a night: pick runs and waits for 'lift' after a late 'grasp';
    dock failed a verdict and went quiet 20 s before the record ends."""
    def line(time, node, flow, kind, fields):
        return json.dumps({'time': time, 'node': node, 'flow': flow, 'kind': kind,
                           'fields': fields})

    def status(node, flow, level, message, **values):
        return {'level': level, 'name': node + ': ' + flow, 'hardware_id': node,
                'message': message,
                'values': {'flow id': flow, **{k.replace('_', ' '): v for k, v in values.items()}}}

    def event(event_id, status_code, point_id, msg, **extra):
        return {'stamp_sec': 1000, 'stamp_nanosec': 0, 'id': event_id, 'status': status_code,
                'point_id': point_id, 'msg': msg, **extra}

    lines = [
        line(1000, 'base', 'dock', 'level', status('base', 'dock', 'OK', 'docking')),
        line(1001, 'base', 'dock', 'verdict',
             event(20, 1, 'approach', 'Status Failed, point approach missing in flow dock',
                   verdict='MISSING_POINT', duration_ms=1500)),
        line(1002, 'arm', 'pick', 'point', event(11, 0, 'open', 'Status OK: open')),
        line(1003, 'arm', 'pick', 'timeout', event(12, 1, 'grasp', 'grasp' + 'Timeout')),
        line(1003, 'arm', 'pick', 'point', event(12, 0, 'grasp', 'Status OK: grasp')),
        line(1020, 'arm', 'pick', 'level',
             status('arm', 'pick', 'WARN', "running: 3 points recorded, expecting 'lift'",
                    state='running', next_expected_point='lift')),
    ]
    path = os.path.join(directory, 'night.jsonl')
    with open(path, 'w', encoding='utf-8') as target:
        target.write('\n'.join(lines) + '\n')
    config = {'workflows': [
        {'flow_id': HOSTILE_ID, 'flow_name': HOSTILE_NAME, 'diag_topic': '/h', 'event_id': 9000,
         'flow_points': [{'point_id': '<b>bold</b>', 'event_id': 9001}]},
        {'flow_id': 'pick', 'flow_name': 'Pick it', 'diag_topic': '/p', 'event_id': 10,
         'flow_points': [{'point_id': 'open', 'event_id': 11},
                         {'point_id': 'grasp', 'event_id': 12, 'repeat_cnt': 2,
                          'timeout_ms': 10, 'on_timeout': True},
                         {'point_id': 'lift', 'event_id': 13}]},
        {'flow_id': 'dock', 'diag_topic': '/d', 'event_id': 20,
         'flow_points': [{'point_id': 'approach', 'event_id': 21}]},
    ]}
    config_path = os.path.join(directory, 'night_flows.yaml')
    with open(config_path, 'w', encoding='utf-8') as target:
        yaml.safe_dump(config, target)
    return path, config_path


def check_hostile_text(driver):
    element = card(driver, HOSTILE_ID)
    title = element.find_element('css selector', 'h2').get_attribute('textContent')
    assert title.startswith(HOSTILE_ID), 'hostile id not shown as text: ' + repr(title)
    name = element.find_element('css selector', '.flow-name').get_attribute('textContent')
    assert name == HOSTILE_NAME, 'hostile flow name not shown as text: ' + repr(name)
    chip = element.find_element('css selector', '.point').text
    assert chip == '<b>bold</b>', 'point id not shown as text: ' + repr(chip)
    assert not driver.find_elements('css selector', 'main img, main b'), \
        'markup from the robot became elements'
    alerts = driver.execute_script('return window.__alerts')
    assert alerts == [], 'the page ran script from data: ' + repr(alerts)


def check_record(driver, monitor, directory):
    record, config = write_record(directory)
    process, url = start_monitor(monitor, config, '--replay', record)
    try:
        driver.get(url)
        wait_for(driver, 'the replayed cards', lambda: card(driver, 'pick') and card(driver, 'dock'))
        state = driver.find_element('id', 'connection').text
        assert 'polling' in state, 'the page does not say how it follows: ' + repr(state)
        check_hostile_text(driver)

        pick = card(driver, 'pick')
        assert pick.find_element('css selector', '.flow-name').text == 'Pick it'
        expected = pick.find_elements('css selector', '.point[data-expected="true"]')
        assert [chip.text.split()[0] for chip in expected] == ['lift'], \
            'the awaited point is not marked: ' + repr([chip.text for chip in expected])
        timeout = pick.find_elements('css selector', '.point[data-outcome="timeout"]')
        assert [chip.text for chip in timeout] == ['grasp'], 'no timeout chip'
        colour = timeout[0].value_of_css_property('background-color')
        failed_colour = driver.execute_script(
            "const probe = document.createElement('span'); probe.className = 'point';"
            "probe.setAttribute('data-outcome', 'failed'); document.body.appendChild(probe);"
            "const colour = getComputedStyle(probe).backgroundColor; probe.remove();"
            "return colour;")
        assert colour != failed_colour, 'a timeout looks like a failure'

        dock = card(driver, 'dock')
        subjects = [cell.text for cell in dock.find_elements('css selector', 'td.subject')]
        assert 'verdict: MISSING_POINT' in subjects, 'verdict not named: ' + repr(subjects)
        assert dock.get_attribute('data-level') == 'STALE'
        age = dock.find_element('css selector', '.age').text
        assert re.match(r'last update \d+ s ago', age), 'STALE card without its age: ' + repr(age)
        assert dock.find_elements('css selector', '.message.old'), 'old message not greyed'
    finally:
        stop(process)


def check_cards(driver, url, hostile):
    driver.get(url)
    expected = SCENARIO_FLOWS + ([HOSTILE_ID] if hostile else [])
    wait_for(driver, 'a card for every flow', lambda: all(card(driver, f) for f in expected))
    levels = {f: card(driver, f).get_attribute('data-level') for f in expected}
    assert set(levels.values()) == {'STALE'}, 'levels before any node reported: ' + repr(levels)

    if hostile:
        check_hostile_text(driver)


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
        check_hostile_text(driver)


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
            if hostile:
                check_record(driver, args.monitor, directory)
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
