// Serialises an element of the live page as it reads with the capture's writes applied: the
// element is copied into an inert document (nothing there loads) and the writes go to the copy;
// a write without a name replaces the element's text (a style element's sheet).
// The root element comes with the document's doctype as the page had it (none when it had
// none), so that the saved page renders in the same mode as the live one.
// With `inert`, the copy's scripts keep their place and their text but no longer run: the copy
// already holds what they built, and run again they build it twice or hide it waiting for a
// loader that never answers. The type a script had stays in data-nimbril-type (empty: none), so
// that setting it back restores the script; the rel of a script preload stays in
// data-nimbril-rel. With `fields`, form fields keep what they showed (a script's or the user's
// value, a ticked box, a chosen option), which a copy lacks when no script sets it again;
// password fields are left as the page wrote them.
((doc, index, writes, inert, fields) => {
  const all = globalThis.__nimbrilDocs[doc];
  const el = all[index];
  const inertDoc = document.implementation.createHTMLDocument('');
  const copy = inertDoc.importNode(el, true);
  if (writes.length || fields) {
    const originals = [el, ...el.getElementsByTagName('*')];
    const copies = [copy, ...copy.getElementsByTagName('*')];
    if (fields) {
      originals.forEach((o, i) => {
        const c = copies[i];
        switch (o.tagName.toUpperCase()) {
          case 'INPUT': {
            const type = (o.type || '').toLowerCase();
            if (type === 'checkbox' || type === 'radio') c.toggleAttribute('checked', o.checked);
            else if (!['password', 'file', 'hidden'].includes(type) &&
                     o.value !== (o.getAttribute('value') ?? ''))
              c.setAttribute('value', o.value);
            break;
          }
          case 'TEXTAREA': if (o.value !== o.defaultValue) c.textContent = o.value; break;
          case 'OPTION': c.toggleAttribute('selected', o.selected); break;
        }
      });
    }
    const map = new Map();
    originals.forEach((o, i) => map.set(o, copies[i]));
    for (const [i, name, value] of writes) {
      const c = map.get(all[i]);
      if (!c) continue;
      if (name === '') { c.textContent = value; continue; }
      c.setAttribute(name, value);
      if (c.tagName.toUpperCase() === 'OBJECT' && name.toLowerCase() === 'movie') {
        for (const p of c.getElementsByTagName('param'))
          if (['movie', 'src'].includes((p.getAttribute('name') || '').toLowerCase()))
            p.setAttribute('value', value);
        if (c.hasAttribute('data')) c.setAttribute('data', value);
      }
    }
  }
  if (inert) {
    // The types a browser runs; anything else is a data block that never ran.
    const runs = /^(module|(application|text)\/(x-)?(ecma|java)script|text\/javascript1\.[0-5]|text\/(jscript|livescript))$/;
    for (const s of [copy, ...copy.getElementsByTagName('*')]) {
      if (s.localName === 'script') {
        const type = s.getAttribute('type');
        const language = s.getAttribute('language');
        const said = type !== null ? type : language ? 'text/' + language : '';
        const essence = said.split(';')[0].trim().toLowerCase();
        if (essence !== '' && !runs.test(essence)) continue;
        s.setAttribute('data-nimbril-type', type ?? '');
        s.setAttribute('type', 'text/x-nimbril-inert');
      } else if (s.localName === 'link') {
        const rel = (s.getAttribute('rel') || '').toLowerCase().split(/\s+/);
        const as = (s.getAttribute('as') || '').toLowerCase();
        if (rel.includes('modulepreload') || (rel.includes('preload') && as === 'script')) {
          s.setAttribute('data-nimbril-rel', s.getAttribute('rel'));
          s.removeAttribute('rel');
        }
      }
    }
  }
  const type = el === document.documentElement ? document.doctype : null;
  if (!type) return copy.outerHTML;
  let head = '<!DOCTYPE ' + type.name;
  if (type.publicId) head += ' PUBLIC "' + type.publicId + '"';
  if (type.systemId) head += (type.publicId ? '' : ' SYSTEM') + ' "' + type.systemId + '"';
  return head + '>\n' + copy.outerHTML;
})
