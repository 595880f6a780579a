// The extension's service worker. With a scenario.json beside it (a test or
// the demo puts one there), it runs the scenario's requests through the host
// as soon as it starts and posts what came back to the scenario's "report"
// URL. Without one it only holds the client for pages of the extension.

'use strict';

importScripts('host_client.js');

const host = new UsbKeyHost();

// {report: URL, steps: [{name, request, whole?, timeoutMs?}]}: each step's
// reply goes into the report under its name.
async function runScenario(scenario) {
  const report = {steps: {}, disconnected: null};
  for (const step of scenario.steps) {
    try {
      if (step.whole) {
        report.steps[step.name] = await host.requestWhole(step.request);
      } else {
        const reply = await host.request(step.request, step.timeoutMs);
        report.steps[step.name] = {reply};
      }
    } catch (error) {
      report.steps[step.name] = {error: String(error)};
    }
  }
  report.disconnected = host.disconnected;
  host.disconnect();
  await fetch(scenario.report, {
    method: 'POST',
    headers: {'Content-Type': 'text/plain'},
    body: JSON.stringify(report),
  });
}

async function start() {
  let scenario;
  try {
    const response = await fetch(chrome.runtime.getURL('scenario.json'));
    if (!response.ok) {
      return;
    }
    scenario = await response.json();
  } catch (error) {
    return;  // no scenario: nothing to run
  }
  try {
    await runScenario(scenario);
  } catch (error) {
    await fetch(scenario.report, {method: 'POST', body: JSON.stringify({error: String(error)})});
  }
}

start();
