// A static server for the built site, on localhost only (Web Serial needs
// localhost or https).  node web/serve.mjs [SITE_DIR] [PORT]
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.png': 'image/png',
  '.svg': 'image/svg+xml',
  '.hex': 'text/plain; charset=utf-8',
};

// The page asks nothing of another site, so it can be cross-origin
// isolated: its clock (performance.now) then keeps microseconds where it
// would keep a tenth of a millisecond, and the simulated chip's replies are
// handed over that much closer to their moment.  A host that does not send
// these headers serves the same page with the coarser clock.
const ISOLATED = { 'Cross-Origin-Opener-Policy': 'same-origin', 'Cross-Origin-Embedder-Policy': 'require-corp' };

// Resolves with the server once it listens; port 0 takes a free one.
export function serve(root, port, host = '127.0.0.1') {
  const base = resolve(root);
  const server = createServer(async (request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    const file = normalize(join(base, path.endsWith('/') ? path + 'index.html' : path));
    if (!file.startsWith(base)) {
      response.writeHead(403).end();
      return;
    }
    try {
      const body = await readFile(file);
      response.writeHead(200, { 'Content-Type': TYPES[extname(file)] || 'application/octet-stream',
        'Cache-Control': 'no-cache', ...ISOLATED });
      response.end(body);
    } catch {
      response.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found\n');
    }
  });
  return new Promise((done, failed) => {
    server.once('error', failed);
    server.listen(port, host, () => done(server));
  });
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const root = process.argv[2] || 'build/web/site';
  const port = Number(process.argv[3] || process.env.PORT || 8080);
  const server = await serve(root, port);
  console.log(`Serving ${resolve(root)} on http://localhost:${server.address().port}/ (Ctrl-C ends it)`);
}
