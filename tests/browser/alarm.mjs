// Works an alarm from Debian's Chromium as a person would: signs in, opens
// the alarm from /alarms, acknowledges it with a comment, reads in its
// report that its failed e-mail told nobody, sees the state on the status
// page; signs off the newest day of SENSOR_ID's readings on its page and
// switches its chart to 7 days; adds a weekly maintenance window on
// /maintenance and removes it; then a page of another origin posts a form
// to the listener, which must refuse it. Loopback only: anything else goes
// to a closed local port.
//
//   node alarm.mjs BASE_URL USER PASSWORD SENSOR SENSOR_ID
// prints the alarm's number; FERNLOG_DOCS_SHOTS=DIR also saves DIR/alarm.png.
import http from 'node:http';
import path from 'node:path';
import { chromium } from 'playwright-core';

const [base, user, password, sensor, sensorId] = process.argv.slice(2);
const fail = (why) => {
  console.error(`alarm.mjs: ${why}`);
  process.exit(1);
};
if (!sensorId) fail('usage: node alarm.mjs BASE_URL USER PASSWORD SENSOR SENSOR_ID');

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--proxy-server=http://127.0.0.1:9',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  timeout: 60000,
});
let other;
try {
  const page = await browser.newPage({ viewport: { width: 720, height: 900 } });
  page.setDefaultTimeout(20000);

  await page.goto(new URL('login', base).href);
  await page.fill('input[name=user]', user);
  await page.fill('input[name=password]', password);
  await Promise.all([page.waitForNavigation(), page.click('button:text-is("Sign in")')]);
  if (!(await page.locator('#signedin').count())) {
    fail(`not signed in: ${page.url()} ${await page.textContent('body')}`);
  }

  await page.goto(new URL('alarms', base).href);
  await Promise.all([page.waitForURL(/\/alarm\/\d+$/),
    page.click(`#alarmlist a:text-is("${sensor}")`)]);
  const id = page.url().match(/\/alarm\/(\d+)$/)[1];
  const form = page.locator('form[action$="/ack"]');
  await form.locator('input[name=by]').fill('Ann Lee');
  await form.locator('input[name=comment]').fill('door shut, checking the seal');
  await Promise.all([page.waitForURL(new URL(`/alarm/${id}`, base).href),
    page.click('button:text-is("Acknowledge")')]);
  const state = await page.textContent('#state');
  if (!state.includes('acknowledged by Ann Lee')) fail(`state after acknowledging: ${state}`);
  // No mail server is set: the alarm's e-mail was an attempt, nobody was told.
  const told = await page.textContent('#report tr:has(th:text-is("Told")) td');
  if (!told.startsWith('nobody (not told: email: ')) fail(`the report's Told row reads ${told}`);
  if (process.env.FERNLOG_DOCS_SHOTS) {
    await page.screenshot({ path: path.join(process.env.FERNLOG_DOCS_SHOTS, 'alarm.png'),
      fullPage: true });
  }

  await page.goto(base);
  const row = await page.textContent(`#alarms tr:has(a[href="alarm/${id}"]) td.state`);
  if (!row.startsWith('acknowledged')) fail(`the status page shows the alarm as ${row}`);

  await page.goto(new URL(`sensor/${sensorId}`, base).href);
  const day = page.locator('#days form').first();
  await day.locator('input[name=by]').fill('Ann Lee');
  await Promise.all([page.waitForNavigation(), day.locator('button').click()]);
  const reviewed = await page.textContent('#days tr:nth-child(2) td:last-child');
  if (!reviewed.startsWith('Ann Lee, ')) fail(`the day after signing off shows ${reviewed}`);
  await Promise.all([page.waitForNavigation(), page.click('a:text-is("7d")')]);
  if (!(await page.locator('b:text-is("7d")').count()) || !(await page.locator('#chart').count())) {
    fail(`after choosing 7 days: ${page.url()}`);
  }

  // A weekly maintenance window added by the form, then removed by its button.
  await page.goto(new URL('maintenance', base).href);
  const add = page.locator('#addwindow');
  await add.locator('input[name=weekly]').fill('Sun 02:00-04:00');
  await add.locator('input[name=comment]').fill('defrost');
  await Promise.all([page.waitForNavigation(), add.locator('button').click()]);
  const added = await page.textContent('#windows');
  if (!added.includes('every Sun 02:00-04:00')) fail(`after adding, the windows read ${added}`);
  await Promise.all([page.waitForNavigation(),
    page.click('#windows tr:has-text("defrost") button:text-is("Remove")')]);
  const left = await page.textContent('#windows');
  if (left.trim() !== 'None.') fail(`after removing, the windows read ${left}`);

  // Another origin: a second loopback port whose page posts a comment.
  const target = new URL(`/alarm/${id}/comment`, base).href;
  other = http.createServer((request, response) => {
    response.writeHead(200, { 'Content-Type': 'text/html' });
    response.end(`<form method="post" action="${target}"><input name="by" value="Mallory">` +
      '<input name="text" value="forged"></form><script>document.forms[0].submit()</script>');
  });
  await new Promise((resolve) => other.listen(0, '127.0.0.1', resolve));
  const [answer] = await Promise.all([
    page.waitForResponse((r) => r.url() === target),
    page.goto(`http://127.0.0.1:${other.address().port}/`),
  ]);
  if (answer.status() !== 403) fail(`a form from another origin got ${answer.status()}`);
  console.log(id);
} catch (error) {
  fail(error.message);
} finally {
  other?.close();
  await browser.close();
}
