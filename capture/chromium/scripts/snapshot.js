// Collects everything the capture reads of a document in one evaluation. The elements are kept in
// the isolated world's own global (never the page's), so later calls can name them by index.
(() => {
  const store = (globalThis.__nimbrilDocs = globalThis.__nimbrilDocs || []);
  const all = Array.from(document.getElementsByTagName('*'));
  store.push(all);
  const abs = (v) => { try { return new URL(v, document.URL).href; } catch (e) { return v; } };
  const movieOf = (o) => {
    for (const p of o.getElementsByTagName('param')) {
      const n = (p.getAttribute('name') || '').toLowerCase();
      if (n === 'movie' || n === 'src') return p.getAttribute('value');
    }
    const type = (o.getAttribute('type') || '').toLowerCase();
    const data = o.getAttribute('data');
    if (data !== null && (type.includes('flash') || /\.swf([?#]|$)/i.test(data))) return data;
    return null;
  };
  const elems = all.map((e) => {
    const tag = e.tagName.toUpperCase();
    const attrs = [];
    for (const a of e.attributes) attrs.push(a.name, a.value);
    let addr = null;
    switch (tag) {
      case 'IMG': addr = e.currentSrc || e.src || ''; break;
      case 'EMBED': case 'SCRIPT': addr = typeof e.src === 'string' ? e.src : ''; break;
      case 'LINK': addr = typeof e.href === 'string' ? e.href : ''; break;
      case 'BGSOUND': { const s = e.getAttribute('src'); addr = s === null ? '' : abs(s); break; }
      case 'A': addr = e.getAttribute('href') === null ? '' : e.protocol; break;
      case 'OBJECT': addr = movieOf(e); break;
    }
    return [tag, attrs, addr];
  });
  return { id: store.length - 1, url: document.URL, title: document.title,
           contentType: document.contentType, root: all.indexOf(document.documentElement),
           body: document.body ? all.indexOf(document.body) : -1, elems };
})()
