// Loads a yield report in headless Chromium, reads its counts, sorts the failures by a
// click on "worst margin", reads the failures' Pareto, shows a unit's curves by a click on
// its row and takes a screenshot.
//   node report_page_check.js REPORT.html SCREENSHOT.png
// Prints the counts as "units U pass P fail F not-trusted N" and "sorted" once the column
// reads in rising order after the click.
const { chromium } = require('playwright-core');

(async () => {
    const [page_file, screenshot] = process.argv.slice(2);
    const browser = await chromium.launch({
        executablePath: process.env.KORVANE_CHROMIUM || '/usr/bin/chromium',
        args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
               '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
    try {
        const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
        const requests = [];
        page.on('request', (r) => { if (!r.url().startsWith('file:')) requests.push(r.url()); });
        await page.goto('file://' + page_file);
        const count = async (id) => (await page.textContent('#count-' + id)).trim();
        console.log(`units ${await count('units')} pass ${await count('pass')} ` +
                    `fail ${await count('fail')} not-trusted ${await count('not-trusted')}`);
        const svgs = await page.locator('svg').count();
        console.log(`svgs ${svgs} requests ${requests.length}`);
        await page.click('#failures th:has-text("worst margin")');
        const margins = await page.$$eval('#failures tbody tr',
            (rows) => rows.map((r) => parseFloat(r.cells[4].textContent) || 0));
        const rising = margins.every((m, i) => i === 0 || margins[i - 1] <= m);
        console.log(rising && margins.length > 1 ? 'sorted' : `not sorted: ${margins.slice(0, 8)}`);
        const pareto = await page.$$eval('#pareto tbody tr',
            (rows) => rows.map((r) => `${r.cells[0].textContent}=${r.cells[1].textContent}`));
        console.log(`pareto ${pareto.join(' ')}`);
        // A failure's row shows that unit's curves, and only that unit's.
        const unit = await page.getAttribute('#failures tbody tr:first-child', 'data-unit');
        await page.click('#failures tbody tr:first-child');
        const shown = await page.$$eval('.unit-curve',
            (divs) => divs.filter((d) => !d.hidden).map((d) => d.id));
        console.log(shown.length === 1 && shown[0] === 'unit-' + unit &&
                    await page.isVisible('#unit-' + unit + ' svg')
            ? 'unit curve shown' : `unit curve not shown: ${unit} ${shown}`);
        await page.screenshot({ path: screenshot, fullPage: true });
    } finally {
        await browser.close();
    }
})().catch((e) => { console.error(e); process.exit(1); });
