// How long Debian's Chromium takes to draw a sensor's 30-day page: the time
// from the request to the first frame after the page loaded, and the time
// to lay out and paint its chart again, each the median of RUNS loads.
// Loopback only: anything else goes to a closed local port.
//
//   node chart_draw.mjs PAGE_URL [RUNS]
// with playwright-core from tests/browser (scripts/setup-deps installs it).
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const { chromium } = await import(
  pathToFileURL(path.join(here, '../tests/browser/node_modules/playwright-core/index.mjs')).href);

const [url, runsText] = process.argv.slice(2);
if (!url) {
  console.error('usage: node chart_draw.mjs PAGE_URL [RUNS]');
  process.exit(2);
}
const runs = Math.max(1, Number(runsText) || 5);
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--proxy-server=http://127.0.0.1:9',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  timeout: 60000,
});
try {
  const page = await browser.newPage({ viewport: { width: 1024, height: 900 } });
  page.setDefaultTimeout(30000);
  const loads = [], draws = [];
  let columns = 0;
  for (let i = 0; i < runs; ++i) {
    await page.goto(url, { waitUntil: 'load' });
    const figures = await page.evaluate(async () => {
      const frame = () => new Promise((resolve) => requestAnimationFrame(() => resolve()));
      await frame();
      await frame();
      const loaded = performance.now();
      const chart = document.querySelector('#chart');
      if (!chart) return null;
      // The chart alone: put back as new, laid out and painted.
      const start = performance.now();
      const copy = chart.cloneNode(true);
      chart.replaceWith(copy);
      copy.getBoundingClientRect();
      await frame();
      await frame();
      const path = copy.querySelector('path.line');
      return {
        loaded,
        drawn: performance.now() - start,
        columns: path ? (path.getAttribute('d').match(/[ML]/g) || []).length : 0,
      };
    });
    if (!figures) throw new Error(`no chart on ${url}`);
    loads.push(figures.loaded);
    draws.push(figures.drawn);
    columns = figures.columns;
  }
  console.log(`Chromium, ${runs} loads: page loaded and drawn ${median(loads).toFixed(0)} ms ` +
    `(median; longest ${Math.max(...loads).toFixed(0)}), chart of ${columns} line points ` +
    `drawn again ${median(draws).toFixed(0)} ms (longest ${Math.max(...draws).toFixed(0)})`);
} catch (e) {
  console.error(`chart_draw.mjs: ${e.message}`);
  process.exitCode = 1;
} finally {
  await browser.close();
}
