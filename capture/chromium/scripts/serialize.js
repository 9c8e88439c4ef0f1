// Serialises an element of the live page as it reads with the capture's writes applied: the
// element is copied into an inert document (nothing there loads) and the writes go to the copy;
// a write without a name replaces the element's text (a style element's sheet).
// The root element comes with the document's doctype as the page had it (none when it had
// none), so that the saved page renders in the same mode as the live one.
((doc, index, writes) => {
  const all = globalThis.__nimbrilDocs[doc];
  const el = all[index];
  const inert = document.implementation.createHTMLDocument('');
  const copy = inert.importNode(el, true);
  if (writes.length) {
    const originals = [el, ...el.getElementsByTagName('*')];
    const copies = [copy, ...copy.getElementsByTagName('*')];
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
  const type = el === document.documentElement ? document.doctype : null;
  if (!type) return copy.outerHTML;
  let head = '<!DOCTYPE ' + type.name;
  if (type.publicId) head += ' PUBLIC "' + type.publicId + '"';
  if (type.systemId) head += (type.publicId ? '' : ' SYSTEM') + ' "' + type.systemId + '"';
  return head + '>\n' + copy.outerHTML;
})
