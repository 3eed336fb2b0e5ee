// The installer page's behaviour. It only asks and shows: every decision is the host's, reached
// through plain string messages ("ready", "install", "mail", "close" out; "init", "done",
// "error" in). Opened in a plain browser it finds no host and previews itself from the query.
// One function scope, so that nothing here becomes a global of the page.
(() => {
  'use strict';

  // "ready" goes out first, so that the host's answer travels while the rest of this script runs;
  // it is handled in a later task, when everything below is in place.
  const host = window.chrome && window.chrome.webview;
  const root = document.documentElement;
  if (host) {
    host.addEventListener('message', onHostMessage);
    send('ready');
  }

  // The style sheet carries the two fonts as data: URIs. The browser decodes those on a worker and
  // marks the faces loaded only some frames later, and until then the texts wait (see onHostMessage).
  // The same bytes handed to the page's font set directly are ready at once, so each such face is
  // replaced by a face made from its own bytes, with the same family, weights and display. A face
  // the browser will not take this way stays as the style sheet gives it.
  function takeFontsAtOnce() {
    if (typeof FontFace !== 'function') return;
    for (const sheet of document.styleSheets) {
      let rules;
      try {
        rules = sheet.cssRules;
      } catch {
        continue; // a sheet of another origin, as the unbuilt page's own file is to the browser
      }
      for (let i = rules.length - 1; i >= 0; i -= 1) {
        if (rules[i] instanceof CSSFontFaceRule) takeFontAtOnce(sheet, i, rules[i].style);
      }
    }
  }

  function takeFontAtOnce(sheet, index, descriptors) {
    const uri = /url\("?data:font\/woff2;base64,([A-Za-z0-9+/=]+)"?\)/.exec(descriptors.getPropertyValue('src'));
    if (!uri) return;
    const bytes = fromBase64(uri[1]);
    const face = new FontFace(descriptors.getPropertyValue('font-family').replace(/^["']|["']$/g, ''), bytes, {
      weight: descriptors.getPropertyValue('font-weight') || 'normal',
      style: descriptors.getPropertyValue('font-style') || 'normal',
      display: descriptors.getPropertyValue('font-display') || 'auto',
    });
    if (face.status === 'error') return;
    document.fonts.add(face);
    sheet.deleteRule(index);
  }

  // The browser's own decoder where it has one: a loop over the characters runs long enough, before
  // the first frame, to delay it.
  function fromBase64(base64) {
    if (typeof Uint8Array.fromBase64 === 'function') return Uint8Array.fromBase64(base64);
    const text = atob(base64);
    const bytes = new Uint8Array(text.length);
    for (let i = 0; i < text.length; i += 1) bytes[i] = text.charCodeAt(i);
    return bytes;
  }

  // The page's texts, one set per language code (the JSON island #page-texts, from ui/texts.json).
  // Values are inserted as HTML; "{v}", "{n}" and "{mail}" are filled in by init().
  const textSets = JSON.parse(document.getElementById('page-texts').textContent);
  // The support address, shown as the link in the error screen; the build writes it into the meta.
  const supportMail = document.querySelector('meta[name="support-mail"]').content;

  let texts = textSets.en;
  let busy = false;

  function send(message) {
    if (host) host.postMessage(message);
  }

  function escapeHtml(s) {
    return String(s).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
  }

  // Only the table's own sets count: a code such as "constructor" or "__proto__" would otherwise
  // reach an inherited property and break every text instead of falling back to English.
  function hasSet(code) {
    return typeof code === 'string' && Object.hasOwn(textSets, code);
  }

  function show(step) {
    let shown = null;
    for (const screen of document.querySelectorAll('main[data-step]')) {
      screen.hidden = screen.dataset.step !== step;
      if (!screen.hidden) shown = screen;
    }
    const primary = shown && shown.querySelector('.primary');
    if (primary) primary.focus();
  }

  // Placeholders are replaced once each. The replacements go through functions so that a "$"
  // in a value is taken literally rather than as a replacement pattern.
  function fill(text, fields) {
    // A real link, so that it takes the focus and reads as one; the click handler keeps the page
    // from following it and asks the host instead.
    const link = '<a data-act="mail" href="mailto:' + escapeHtml(supportMail) + '">' + escapeHtml(supportMail) + '</a>';
    return text
      .replace('{v}', () => escapeHtml(fields.version))
      .replace('{n}', () => escapeHtml(fields.effects))
      .replace('{mail}', () => link);
  }

  function init(fields) {
    const known = hasSet(fields.lang);
    texts = known ? textSets[fields.lang] : textSets.en;
    root.lang = known ? fields.lang : 'en';
    for (const el of document.querySelectorAll('[data-t]')) el.innerHTML = fill(texts[el.dataset.t], fields);
    for (const button of document.querySelectorAll('[data-act="install"]')) button.dataset.installing = texts.installing;
    document.getElementById('steps').innerHTML = texts.steps.map((step) => '<li>' + step + '</li>').join('');
    // A break opportunity after every backslash, so a long folder wraps at a separator.
    document.getElementById('path').innerHTML = escapeHtml(fields.path ?? '').replace(/\\/g, '\\<wbr>');
    // Shown before the focus moves: a hidden button takes no focus.
    root.classList.add('filled');
    show(fields.step ? fields.step : 'ask');
    sized.forEach(fit);
    if (fields.auto === true) setTimeout(install, 1200);
  }

  // While busy every action is marked inert rather than disabled: a disabled button would drop the
  // keyboard focus to the body, and the click handler's busy guard already keeps it from acting.
  function setInert(inert) {
    for (const el of document.querySelectorAll('[data-act]')) {
      if (inert) el.setAttribute('aria-disabled', 'true');
      else el.removeAttribute('aria-disabled');
    }
  }

  function install() {
    if (busy) return;
    busy = true;
    setInert(true);
    for (const button of document.querySelectorAll('[data-act="install"]')) {
      button.setAttribute('aria-busy', 'true');
      button.dataset.label = button.innerHTML;
      button.innerHTML = texts.installing;
    }
    send('install');
  }

  function finished() {
    busy = false;
    setInert(false);
    for (const button of document.querySelectorAll('[data-act="install"]')) {
      button.removeAttribute('aria-busy');
      if (button.dataset.label !== undefined) {
        button.innerHTML = button.dataset.label;
        delete button.dataset.label;
      }
    }
  }

  // Sizes that only layout knows. A done or error title that runs to a third line is set a step
  // smaller, and a folder too long for its three lines becomes a scroll box the keyboard can reach.
  // Observed as well as measured when filled, because the fonts may arrive after the texts.
  function fit(el) {
    if (el.offsetHeight === 0) return; // on a hidden screen; measured when it is shown
    if (el.id === 'path') {
      if (el.scrollHeight > el.clientHeight) el.tabIndex = 0;
      else el.removeAttribute('tabindex');
    } else {
      el.classList.remove('long');
      const lines = el.offsetHeight / parseFloat(getComputedStyle(el).lineHeight);
      el.classList.toggle('long', lines > 2.5);
    }
  }
  const sized = document.querySelectorAll('h1.small, #path');
  const observer = new ResizeObserver((entries) => entries.forEach((e) => fit(e.target)));
  sized.forEach((el) => observer.observe(el));

  // An init body that is not a JSON object is dropped: the page keeps what it shows and keeps
  // listening, rather than letting the parse error end the script.
  function parseInit(body) {
    try {
      const fields = JSON.parse(body);
      return fields !== null && typeof fields === 'object' && !Array.isArray(fields) ? fields : null;
    } catch {
      return null;
    }
  }

  // Host messages are handled once the page's own fonts are in, in the order they came: texts laid
  // out in a stand-in face first would move the buttons when the fonts arrive. Asking for the
  // faces (at the end of this script) also starts the loading of any the script could not take.
  const faces = ['700 1em Fraunces', '1em Figtree'];
  let fontsLoading = null;
  function fontsIn() {
    fontsLoading ??= Promise.all(faces.map((face) => document.fonts.load(face))).catch(() => {});
    return fontsLoading;
  }
  // The load promises settle in a task of their own, which the browser may run only after a frame
  // or two; a face is marked loaded as soon as it is. So a message that finds both faces in and no
  // earlier message waiting is handled at once.
  let waiting = 0;

  function onHostMessage(event) {
    if (waiting === 0 && faces.every((face) => document.fonts.check(face))) {
      handleHostMessage(event);
      return;
    }
    waiting += 1;
    fontsIn().then(() => {
      waiting -= 1;
      handleHostMessage(event);
    });
  }

  function handleHostMessage(event) {
    const text = String(event.data);
    const cut = text.indexOf('\n');
    const kind = cut < 0 ? text : text.slice(0, cut);
    const body = cut < 0 ? '' : text.slice(cut + 1);
    if (kind === 'init') {
      const fields = parseInit(body);
      if (fields) init(fields);
    } else if (kind === 'done') {
      finished();
      show('done');
    } else if (kind === 'error') {
      finished();
      document.getElementById('error').textContent = body;
      show('error');
    }
  }

  document.addEventListener('click', (event) => {
    const target = event.target instanceof Element ? event.target.closest('[data-act]') : null;
    if (!target) return;
    event.preventDefault();
    const action = target.getAttribute('data-act');
    if (action === 'install') install();
    else if (!busy) send(action);
  });

  document.addEventListener('keydown', (event) => {
    if (event.key === 'Escape' && !busy) send('close');
  });

  document.addEventListener('contextmenu', (event) => event.preventDefault());
  // A middle click on the mail link would ask for a new window; the page opens none.
  document.addEventListener('auxclick', (event) => event.preventDefault());

  // The focus ring is for keyboard users. The browser would also ring the button that the page
  // itself focuses, on the first screen before any key and on a new screen reached with the mouse;
  // so the ring shows only once a key has been used, and a pointer press hides it again.
  document.addEventListener('pointerdown', () => root.classList.remove('keys'), true);
  document.addEventListener('keydown', () => root.classList.add('keys'), true);

  // The host's answer to "ready" comes in a later task; the faces are made, and the pictures
  // decoded, while it travels. The page is not drawn before the init (see the style sheet), so
  // the browser would otherwise decode the wall's cards only for the frame that first shows them.
  takeFontsAtOnce();
  fontsIn();
  for (const img of document.images) img.decode().catch(() => {});
  if (!host) {
    const query = new URLSearchParams(location.search);
    fontsIn().then(() => init({
      lang: query.get('lang') || 'es',
      version: '0.3.0',
      effects: 20,
      path: 'C:\\Users\\demo\\.affinity\\Affinity\\3.0\\Plugins',
      step: query.get('step') || 'ask',
    }));
    document.getElementById('error').textContent =
      'C:\\Users\\demo\\.affinity\\Affinity\\3.0\\Plugins\\Lumivane.8bf: Access is denied. (os error 5)';
  }
})();
