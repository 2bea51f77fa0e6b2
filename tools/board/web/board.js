// The board's page: figures from /api and /events, every device string set as text.
'use strict';

(function () {
  const TEXTS = {
    zh: {
      title: '产线看板', unitsToday: '今日测试台数', firstPass: '直通率（首测通过）',
      finalYield: '最终良率', lastHour: '最近一小时直通率', hourly: '每小时测试数',
      pareto: '失败原因排行', today: '今日', days7: '7天', days30: '30天',
      lastUnits: '最近测试', time: '时间', station: '工位', firmware: '固件', verdict: '结果',
      reason: '原因', ttff: '首次定位时间 (s)', satellites: '使用卫星数', signal: '最强信号 (dB-Hz)',
      history: '单机记录', find: '查询', imei: 'IMEI', close: '关闭', noHistory: '没有这台的记录',
      live: '实时', lost: '与看板服务器断开，正在重连…', storeLost: '记录库无法读取：',
      units: '台', tests: '次测试', noIdentity: '无IMEI', lineTotal: '全线',
      threshold: '阈值', belowAlert: '最近一小时直通率 {value} 低于阈值 {threshold}',
      within: '合格', cumulative: '累计 %', updated: '更新于', other: '其他',
      limitMax: '限值 ≤ {limit}', limitMin: '限值 ≥ {limit}', count: '数量',
    },
    en: {
      title: 'Line board', unitsToday: 'Units tested today', firstPass: 'First-pass yield',
      finalYield: 'Final yield', lastHour: 'Last hour first-pass', hourly: 'Units tested per hour',
      pareto: 'Failure Pareto', today: 'Today', days7: '7 days', days30: '30 days',
      lastUnits: 'Last units', time: 'Time', station: 'Station', firmware: 'Firmware',
      verdict: 'Verdict', reason: 'Reason', ttff: 'Time to first fix (s)',
      satellites: 'Satellites used', signal: 'Best signal (dB-Hz)', history: 'Unit history',
      find: 'Find', imei: 'IMEI', close: 'Close', noHistory: 'No records of this unit',
      live: 'Live', lost: 'Lost the board server, reconnecting…',
      storeLost: 'Cannot read the records: ', units: 'units', tests: 'tests',
      noIdentity: 'without IMEI', lineTotal: 'Line', threshold: 'threshold',
      belowAlert: 'Last hour first-pass yield {value} is below {threshold}', within: 'within',
      cumulative: 'cumulative %', updated: 'updated', other: 'other',
      limitMax: 'limit ≤ {limit}', limitMin: 'limit ≥ {limit}', count: 'count',
    },
  };
  const COLORS = ['#4e9af1', '#f5a623', '#9b6cf0', '#2fbf71', '#e85d9c', '#50c8c8', '#c0c050',
    '#f07f4e'];
  const PASS = '#2fbf71';
  const FAIL = '#ef4b4b';

  const query = new URLSearchParams(location.search);
  const token = query.get('token') || '';
  let lang = query.get('lang');
  let figures = null;
  let paretoDays = 1;
  let paretoAsked = 0;
  let source = null;
  const charts = {};

  const $ = (id) => document.getElementById(id);
  const t = (key) => (TEXTS[lang] || TEXTS.zh)[key] || key;
  const fill = (text, values) => text.replace(/\{(\w+)\}/g, (_, k) => String(values[k]));

  function apiUrl(path) {
    const url = new URL(path, location.href);
    if (token) url.searchParams.set('token', token);
    return url.toString();
  }

  function percentText(value) {
    return typeof value === 'number' ? value.toFixed(1) + ' %' : '—';
  }

  function localTime(iso, withDate) {
    const date = new Date(iso);
    if (isNaN(date)) return iso;
    const pad = (n) => String(n).padStart(2, '0');
    const time = pad(date.getHours()) + ':' + pad(date.getMinutes()) + ':' + pad(date.getSeconds());
    if (!withDate) return time;
    return date.getFullYear() + '-' + pad(date.getMonth() + 1) + '-' + pad(date.getDate()) + ' ' +
        time;
  }

  function applyTexts() {
    document.documentElement.lang = lang === 'en' ? 'en' : 'zh-CN';
    document.title = t('title');
    document.querySelectorAll('[data-text]').forEach((el) => { el.textContent = t(el.dataset.text); });
    document.querySelectorAll('[data-placeholder]').forEach((el) => {
      el.placeholder = t(el.dataset.placeholder);
    });
    $('lang-toggle').textContent = lang === 'en' ? '中文' : 'English';
  }

  // Rows of a units table, each cell by textContent: a firmware string stays a string.
  function fillUnits(table, units) {
    const body = table.tBodies[0];
    const rows = units.map((u) => {
      const row = document.createElement('tr');
      if (u.imei) row.dataset.imei = u.imei;
      const cells = [localTime(u.startedUtc, table.id !== 'last-units'), u.passed ? 'PASS' : 'FAIL',
        u.imei, u.station, u.step ? u.step + ': ' + u.reason : '', u.firmware];
      cells.forEach((text, i) => {
        const cell = document.createElement('td');
        cell.textContent = text;
        if (i === 1) cell.className = u.passed ? 'pass' : 'fail';
        if (i >= 3) cell.title = text;
        row.appendChild(cell);
      });
      return row;
    });
    body.replaceChildren(...rows);
  }

  function chart(id, config) {
    if (typeof Chart === 'undefined') return null;
    if (!charts[id]) {
      config.options = Object.assign({
        responsive: true, maintainAspectRatio: false, animation: false,
        plugins: { legend: { labels: { color: '#e8edf2' } } },
      }, config.options || {});
      charts[id] = new Chart($(id), config);
    } else {
      charts[id].data = config.data;
      charts[id].update('none');
    }
    return charts[id];
  }

  const axis = (extra) => Object.assign({
    ticks: { color: '#c8d2dc' }, grid: { color: 'rgba(255,255,255,0.08)' },
  }, extra || {});

  function showHourly(f) {
    const from = new Date(f.today.fromUtc).getTime();
    const now = new Date(f.generatedUtc).getTime();
    const hours = Math.max(1, Math.min(24, Math.floor((now - from) / 3600000) + 1));
    const labels = [];
    for (let h = 0; h < hours; h++) labels.push(localTime(new Date(from + h * 3600000)).slice(0, 5));
    const stations = [...new Set(f.hourly.map((h) => h.station))].sort();
    const total = new Array(hours).fill(0);
    const datasets = stations.map((station, i) => {
      const data = new Array(hours).fill(0);
      f.hourly.filter((h) => h.station === station).forEach((h) => {
        const slot = Math.floor((new Date(h.hour).getTime() - from) / 3600000);
        if (slot >= 0 && slot < hours) {
          data[slot] += h.tested;
          total[slot] += h.tested;
        }
      });
      return { type: 'bar', label: station, data, stack: 'units', backgroundColor: COLORS[i % 8] };
    });
    datasets.unshift({ type: 'line', label: t('lineTotal'), data: total, borderColor: '#ffffff',
      backgroundColor: '#ffffff', tension: 0.2 });
    chart('hourly-chart', {
      data: { labels, datasets },
      options: { scales: { x: axis({ stacked: true }), y: axis({ stacked: true, beginAtZero: true }) } },
    });
  }

  function showPareto(p) {
    const labels = p.reasons.map((r) => r.step + ': ' + r.reason);
    const counts = p.reasons.map((r) => r.count);
    const sum = counts.reduce((a, b) => a + b, 0);
    let running = 0;
    const cumulative = counts.map((c) => Math.round((running += c) * 1000 / sum) / 10);
    chart('pareto-chart', {
      data: {
        labels,
        datasets: [
          { type: 'bar', label: t('count'), data: counts, backgroundColor: FAIL, yAxisID: 'y' },
          { type: 'line', label: t('cumulative'), data: cumulative, borderColor: '#f5a623',
            backgroundColor: '#f5a623', yAxisID: 'percent' },
        ],
      },
      options: {
        scales: {
          x: axis({ ticks: { color: '#c8d2dc', autoSkip: false, maxRotation: 30,
            callback(value) { const l = this.getLabelForValue(value); return l.length > 22 ? l.slice(0, 21) + '…' : l; } } }),
          y: axis({ beginAtZero: true }),
          percent: axis({ position: 'right', min: 0, max: 100, grid: { display: false } }),
        },
      },
    });
    document.querySelectorAll('[data-days]').forEach((b) => {
      b.classList.toggle('chosen', Number(b.dataset.days) === paretoDays);
    });
  }

  function showHistogram(h) {
    const edge = (i) => +(h.low + h.width * i).toFixed(2);
    const labels = [];
    const data = [];
    const colors = [];
    const passes = (from, to) => (h.limitIsMaximum ? to <= h.limit : from >= h.limit);
    if (h.low > 0) {
      labels.push('< ' + edge(0));
      data.push(h.below);
      colors.push(passes(-Infinity, edge(0)) ? PASS : FAIL);
    }
    h.counts.forEach((c, i) => {
      labels.push(h.width === 1 ? String(edge(i)) : edge(i) + '–' + edge(i + 1));
      data.push(c);
      colors.push(passes(edge(i), edge(i + 1)) ? PASS : FAIL);
    });
    labels.push('≥ ' + edge(h.counts.length));
    data.push(h.above);
    colors.push(passes(edge(h.counts.length), Infinity) ? PASS : FAIL);
    chart(h.measure + '-chart', {
      type: 'bar',
      data: { labels, datasets: [{ label: t('count'), data, backgroundColor: colors }] },
      options: { plugins: { legend: { display: false } },
        scales: { x: axis(), y: axis({ beginAtZero: true }) } },
    });
    const measured = data.reduce((a, b) => a + b, 0);
    const limit = fill(t(h.limitIsMaximum ? 'limitMax' : 'limitMin'), { limit: h.limit });
    const within = measured ? (Math.round(h.withinLimit * 1000 / measured) / 10).toFixed(1) + ' %' : '—';
    $(h.measure + '-limit').textContent = limit + ' · ' + t('within') + ' ' + within;
  }

  function render(f) {
    figures = f;
    const y = f.yields || {};
    $('units-today').textContent = y.units === undefined ? '—' : String(y.units);
    $('records-today').textContent = y.records === undefined ? '' :
        y.records + ' ' + t('tests') + (y.unidentified ? ' · ' + y.unidentified + ' ' + t('noIdentity') : '');
    $('first-pass-yield').textContent = percentText(y.firstPassPercent);
    $('first-pass-count').textContent = y.units === undefined ? '' : y.firstPassed + ' / ' + y.units;
    $('final-yield').textContent = percentText(y.finalPercent);
    $('final-count').textContent = y.units === undefined ? '' : y.finalPassed + ' / ' + y.units;
    const hour = f.lastHour || {};
    $('last-hour-yield').textContent = percentText(hour.firstPassPercent);
    $('last-hour-threshold').textContent = hour.threshold === undefined ? '' :
        t('threshold') + ' ' + percentText(hour.threshold) + ' · ' + (hour.units || 0) + ' ' + t('units');
    document.querySelector('[data-figure="last-hour"]').classList.toggle('below', !!hour.below);
    const alert = $('alert');
    alert.hidden = !hour.below;
    alert.textContent = hour.below ? fill(t('belowAlert'), {
      value: percentText(hour.firstPassPercent), threshold: percentText(hour.threshold) }) : '';
    const store = f.store || { ok: true };
    $('store-state').hidden = store.ok;
    $('store-state').textContent = store.ok ? '' : t('storeLost') + store.error;
    if (f.generatedUtc) $('updated').textContent = t('updated') + ' ' + localTime(f.generatedUtc);
    if (!f.today) return;
    showHourly(f);
    // A longer period changes slowly: asked again once a minute, not on every record.
    if (paretoDays === 1) showPareto(f.pareto);
    else if (Date.now() - paretoAsked > 60000) loadPareto(paretoDays);
    f.gps.forEach(showHistogram);
    fillUnits($('last-units'), f.lastUnits);
  }

  function connected(live) {
    const state = $('connection');
    state.textContent = t(live ? 'live' : 'lost');
    state.className = 'state ' + (live ? 'live' : 'lost');
    document.body.classList.toggle('offline', !live);
  }

  // The stream sends the figures at once and on every stored record; a lost server shows at
  // once and the stream comes back by itself (or is opened again once it gave up).
  function listen() {
    if (source) source.close();
    source = new EventSource(apiUrl('/events'));
    source.addEventListener('figures', (e) => {
      connected(true);
      render(JSON.parse(e.data));
    });
    source.onerror = () => {
      connected(false);
      if (source.readyState === EventSource.CLOSED) setTimeout(listen, 2000);
    };
  }

  async function getJson(path) {
    const response = await fetch(apiUrl(path), { cache: 'no-store' });
    if (!response.ok) throw new Error(response.status);
    return response.json();
  }

  async function loadPareto(days) {
    paretoDays = days;
    paretoAsked = Date.now();
    try {
      showPareto(days === 1 && figures ? figures.pareto : await getJson('/api/pareto?days=' + days));
    } catch (e) {
      connected(false);
    }
  }

  async function showHistory(imei) {
    $('history-imei').textContent = imei;
    try {
      const found = await getJson('/api/unit?imei=' + encodeURIComponent(imei));
      fillUnits($('history-units'), found.units);
      $('history-empty').hidden = found.units.length > 0;
    } catch (e) {
      fillUnits($('history-units'), []);
      $('history-empty').hidden = false;
    }
    if (!$('history').open) $('history').showModal();
  }

  function start() {
    if (typeof Chart !== 'undefined') {
      Chart.defaults.font.size = Math.round(Math.max(12, Math.min(22, innerHeight / 55)));
      Chart.defaults.color = '#c8d2dc';
    }
    $('lang-toggle').addEventListener('click', () => {
      lang = lang === 'en' ? 'zh' : 'en';
      applyTexts();
      Object.keys(charts).forEach((id) => { charts[id].destroy(); delete charts[id]; });
      if (figures) render(figures);
      connected(!document.body.classList.contains('offline'));
    });
    $('history-form').addEventListener('submit', (e) => {
      e.preventDefault();
      const imei = $('imei-input').value.trim();
      if (imei) showHistory(imei);
    });
    $('history-close').addEventListener('click', () => $('history').close());
    $('last-units').addEventListener('click', (e) => {
      const row = e.target.closest('tr[data-imei]');
      if (row) showHistory(row.dataset.imei);
    });
    document.querySelectorAll('[data-days]').forEach((b) => {
      b.addEventListener('click', () => loadPareto(Number(b.dataset.days)));
    });
    const tick = () => { $('clock').textContent = localTime(new Date()); };
    tick();
    setInterval(tick, 1000);
    getJson('/api/config').then((config) => {
      if (!lang) lang = config.lang;
      applyTexts();
    }).catch(() => { if (!lang) lang = 'zh'; applyTexts(); });
    lang = lang || null;
    applyTexts();
    listen();
  }

  start();
}());
