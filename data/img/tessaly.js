// The responsive folder pages' script. The pages work without it, as links and forms; this adds
// dates in the visitor's own terms, thumbnails that appear when they are made, a viewer for
// pictures, videos and music, uploads with progress (files, folders, drag and drop) and a
// question before deleting.
(() => {
  'use strict';
  const $ = (s, r = document) => r.querySelector(s);
  const $$ = (s, r = document) => Array.from(r.querySelectorAll(s));
  // The page's texts, in its language.
  const T = JSON.parse(($('#tx') || {}).textContent || '{}');
  const say = (key, ...args) => args.reduce((t, a, i) => t.replace('%' + (i + 1), a), T[key] || key);
  const use = $('use');
  const iconUrl = use ? use.getAttribute('href').split('#')[0] : '';
  const icon = (name) => `<svg class="ic" aria-hidden="true"><use href="${iconUrl}#${name}"/></svg>`;
  const el = (tag, cls, html) => {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (html) e.innerHTML = html;
    return e;
  };
  const button = (cls, label, name) => {
    const b = el('button', 'b ' + cls, icon(name));
    b.type = 'button';
    b.setAttribute('aria-label', label);
    b.title = label;
    return b;
  };

  // Dates: the time today, day and month this year, the year too before that.
  const day = new Intl.DateTimeFormat(undefined, { day: 'numeric', month: 'short' });
  const year = new Intl.DateTimeFormat(undefined, { day: 'numeric', month: 'short', year: 'numeric' });
  const time = new Intl.DateTimeFormat(undefined, { hour: '2-digit', minute: '2-digit' });
  const full = new Intl.DateTimeFormat(undefined, { dateStyle: 'full', timeStyle: 'short' });
  const now = new Date();
  for (const t of $$('time[datetime]')) {
    const d = new Date(t.dateTime);
    if (isNaN(d)) continue;
    t.title = full.format(d);
    t.textContent = d.toDateString() === now.toDateString() ? time.format(d)
      : d.getFullYear() === now.getFullYear() ? day.format(d) : year.format(d);
  }

  // Thumbnails still being made are asked for again until they come.
  for (const img of $$('img[data-w]')) {
    let tries = 0;
    const shown = () => { img.dataset.ok = ''; };
    img.addEventListener('load', shown);
    img.addEventListener('error', () => {
      if (++tries < 60)
        setTimeout(() => { img.src = img.src.replace(/&r=\d+$/, '') + '&r=' + tries; }, 1500);
    });
    if (img.complete && img.naturalWidth) shown();
  }

  // The chosen entries: counted, deleted after a question, downloaded as one archive.
  const sel = $('form.sel');
  if (sel) {
    const chosen = () => $$('.ck input:checked', sel).map((i) => i.value);
    const count = $('.selbar .n', sel);
    const update = () => { if (count) count.textContent = say('chosen', chosen().length); };
    sel.addEventListener('change', update);
    update();
    sel.addEventListener('submit', (e) => {
      const names = chosen();
      const action = e.submitter ? e.submitter.value : '';
      if (action === 'zip') {
        // Without the form's token in the address.
        e.preventDefault();
        location.href = sel.action + '?a=zip&' + names.map((n) => 'n=' + encodeURIComponent(n)).join('&');
      } else if (action === 'del' && !confirm(say('delete', names.length))) {
        e.preventDefault();
      }
    });
  }

  // The viewer: pictures stepped through (buttons, arrow keys, a swipe), videos and music played.
  let viewer, stage, title, save, prev, next, items = [], at = 0;
  const more = {};
  const pictures = (doc, base) => $$('a.o[data-k="i"]', doc).map((a) => ({
    href: new URL(a.getAttribute('href'), base).href, kind: 'i', name: $('.nm', a).textContent,
  }));
  const pageOf = (doc, rel, base) => {
    const a = $(`.pager a[rel="${rel}"]`, doc);
    return a ? new URL(a.getAttribute('href'), base).href : null;
  };
  // The pictures of the page before or after, when the viewer steps past this page's.
  async function fetchMore(rel) {
    const url = more[rel];
    if (!url) return false;
    more[rel] = null;
    try {
      const doc = new DOMParser().parseFromString(await (await fetch(url)).text(), 'text/html');
      const found = pictures(doc, url);
      more[rel] = pageOf(doc, rel, url);
      if (rel === 'next') items.push(...found);
      else { items.unshift(...found); at += found.length; }
      return found.length > 0 || fetchMore(rel);
    } catch (err) {
      return false;
    }
  }
  function build() {
    viewer = el('dialog', 'viewer');
    const bar = el('div', 'tb');
    title = el('span', 'tt');
    title.id = 'vt';
    viewer.setAttribute('aria-labelledby', 'vt');
    save = el('a', 'b', icon('dl'));
    save.setAttribute('aria-label', say('download'));
    save.title = say('download');
    const close = button('', say('close'), 'x');
    close.addEventListener('click', () => viewer.close());
    bar.append(title, save, close);
    stage = el('div', 'st');
    prev = button('pv', say('previous'), 'prev');
    next = button('nx', say('next'), 'next');
    prev.addEventListener('click', () => step(-1));
    next.addEventListener('click', () => step(1));
    viewer.append(bar, stage, prev, next);
    viewer.addEventListener('close', () => { stage.textContent = ''; });
    // On the page: the focus may have left a button that hid itself.
    document.addEventListener('keydown', (e) => {
      if (!viewer.open || e.defaultPrevented) return;
      if (e.key === 'ArrowLeft') step(-1);
      else if (e.key === 'ArrowRight') step(1);
    });
    let x = null;
    stage.addEventListener('pointerdown', (e) => { x = e.clientX; });
    stage.addEventListener('pointerup', (e) => {
      if (x !== null && Math.abs(e.clientX - x) > 50) step(e.clientX < x ? 1 : -1);
      x = null;
    });
    document.body.append(viewer);
  }
  function show() {
    const item = items[at];
    title.textContent = item.name;
    save.href = item.href + '?dl=1';
    let media;
    if (item.kind === 'i') {
      media = el('img');
      media.alt = item.name;
    } else {
      media = el(item.kind === 'v' ? 'video' : 'audio');
      media.controls = true;
      media.autoplay = true;
      media.playsInline = true;
    }
    media.src = item.href;
    stage.replaceChildren(media);
    const stepping = item.kind === 'i';
    prev.hidden = !stepping || (at === 0 && !more.prev);
    next.hidden = !stepping || (at === items.length - 1 && !more.next);
  }
  async function step(by) {
    if (items[at].kind !== 'i') return;
    if (at + by < 0 && !(await fetchMore('prev'))) return;
    if (at + by >= items.length && !(await fetchMore('next'))) return;
    at += by;
    show();
  }
  document.addEventListener('click', (e) => {
    const a = e.target.closest('a.o[data-k]');
    if (!a || e.button || e.ctrlKey || e.metaKey || e.shiftKey || e.altKey) return;
    e.preventDefault();
    if (!viewer) build();
    const href = a.href;
    if (a.dataset.k === 'i') {
      items = pictures(document, location.href);
      more.prev = pageOf(document, 'prev', location.href);
      more.next = pageOf(document, 'next', location.href);
    } else {
      items = [{ href, kind: a.dataset.k, name: $('.nm', a).textContent }];
    }
    at = Math.max(0, items.findIndex((i) => i.href === href));
    show();
    viewer.showModal();
  });

  // Uploads: files and folders chosen or dropped go one at a time, each with its progress.
  const upload = $('form.up');
  if (!upload) return;
  $('button', upload).hidden = true;
  const jobs = [];
  let panel, list, heading, bar, running = null;
  function makePanel() {
    panel = el('section', 'ups');
    panel.setAttribute('aria-label', say('uploads'));
    heading = el('h2', '', '<span role="status"></span>');
    const all = el('button', 'b', say('cancelAll'));
    all.type = 'button';
    all.addEventListener('click', () => jobs.forEach(cancel));
    heading.append(all);
    bar = el('progress');
    bar.max = 1;
    bar.value = 0;
    bar.setAttribute('aria-label', say('total'));
    list = el('ul');
    panel.append(heading, bar, list);
    document.body.append(panel);
  }
  function total() {
    const size = jobs.reduce((s, j) => s + j.file.size, 0);
    bar.value = size ? jobs.reduce((s, j) => s + j.sent, 0) / size : 1;
    const done = jobs.filter((j) => j.state === 'good').length;
    $('span', heading).textContent = say('progress', done, jobs.length);
  }
  function queue(files) {
    if (!files.length) return;
    if (!panel) makePanel();
    for (const { file, path } of files) {
      const job = { file, path, sent: 0, state: 'wait', xhr: null };
      job.row = el('li');
      const name = el('span', 'u');
      name.textContent = path;
      job.status = el('span', 's', say('waiting'));
      job.bar = el('progress');
      job.bar.max = 1;
      job.bar.value = 0;
      job.bar.setAttribute('aria-label', path);
      const stop = button('', say('cancel') + ' ' + path, 'x');
      stop.addEventListener('click', () => cancel(job));
      job.row.append(name, stop, job.bar, job.status);
      list.append(job.row);
      jobs.push(job);
    }
    total();
    start();
  }
  function cancel(job) {
    if (job.state === 'wait') end(job, 'bad', say('cancelled'));
    else if (job.state === 'busy') job.xhr.abort();
  }
  function end(job, state, text) {
    job.state = state;
    job.row.className = state;
    job.status.textContent = text;
    if (state === 'good') job.sent = job.file.size;
    if (running === job) running = null;
    total();
    start();
  }
  function start() {
    if (running) return;
    const job = jobs.find((j) => j.state === 'wait');
    if (!job) return finish();
    running = job;
    job.state = 'busy';
    job.status.textContent = say('sending');
    const xhr = new XMLHttpRequest();
    job.xhr = xhr;
    const form = new FormData();
    form.append('f', job.file, job.path);
    xhr.open('POST', upload.action + '&j=1');
    xhr.upload.onprogress = (e) => {
      job.sent = e.loaded * job.file.size / (e.total || 1);
      job.bar.value = e.total ? e.loaded / e.total : 0;
      total();
    };
    xhr.onload = () => {
      job.bar.value = 1;
      end(job, xhr.status < 300 ? 'good' : 'bad', xhr.responseText || String(xhr.status));
    };
    xhr.onerror = () => end(job, 'bad', say('failed'));
    xhr.onabort = () => end(job, 'bad', say('cancelled'));
    xhr.send(form);
  }
  function finish() {
    const bad = jobs.some((j) => j.state === 'bad');
    const good = jobs.some((j) => j.state === 'good');
    const close = el('button', 'b pri', say('close'));
    close.type = 'button';
    close.addEventListener('click', () => (good ? location.reload() : panel.remove()));
    heading.replaceChild(close, heading.lastChild);
    // All went well: the folder shows what came.
    if (good && !bad) setTimeout(() => location.reload(), 400);
  }
  for (const input of $$('input[type=file]', upload)) {
    input.addEventListener('change', () => {
      queue(Array.from(input.files, (file) => ({ file, path: file.webkitRelativePath || file.name })));
      input.value = '';
      upload.closest('details').open = false;
    });
  }

  // Dropped files and folders, with everything in them.
  const drop = el('div', 'drop', say('drop'));
  drop.hidden = true;
  document.body.append(drop);
  let over = 0;
  const carriesFiles = (e) => e.dataTransfer && Array.from(e.dataTransfer.types).includes('Files');
  document.addEventListener('dragenter', (e) => {
    if (!carriesFiles(e)) return;
    ++over;
    drop.hidden = false;
  });
  document.addEventListener('dragleave', () => {
    if (--over <= 0) { over = 0; drop.hidden = true; }
  });
  document.addEventListener('dragover', (e) => { if (carriesFiles(e)) e.preventDefault(); });
  document.addEventListener('drop', async (e) => {
    if (!carriesFiles(e)) return;
    e.preventDefault();
    over = 0;
    drop.hidden = true;
    // What the drop holds can only be read now, before the first wait.
    const files = Array.from(e.dataTransfer.files);
    const entries = Array.from(e.dataTransfer.items || [], (i) => i.webkitGetAsEntry && i.webkitGetAsEntry())
      .filter(Boolean);
    if (!entries.length) return queue(files.map((file) => ({ file, path: file.name })));
    const found = [];
    const walk = async (entry, folder) => {
      if (entry.isFile) {
        found.push({ file: await new Promise((ok, no) => entry.file(ok, no)), path: folder + entry.name });
      } else if (entry.isDirectory) {
        const reader = entry.createReader();
        for (;;) {
          const batch = await new Promise((ok, no) => reader.readEntries(ok, no));
          if (!batch.length) break;
          for (const inner of batch) await walk(inner, folder + entry.name + '/');
        }
      }
    };
    try {
      for (const entry of entries) await walk(entry, '');
    } catch (err) {
      // Unreadable entries are left out.
    }
    queue(found);
  });
})();
