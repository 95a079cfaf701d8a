// What the page keeps in Cache Storage from one visit to the next, each thing under a name
// that says which build's it is (a digest), in a cache of its own that holds only the latest.
// Where the browser keeps nothing (storage refused or full), everything is simply made again.

// The response kept under `name`, or null.
export async function readKept(cacheName, name) {
  try {
    return await (await caches.open(cacheName)).match(name) ?? null;
  } catch {
    return null;
  }
}

// Keeps `bytes` under `name`, then lets go of anything else in the cache.
export async function keep(cacheName, name, bytes) {
  try {
    const cache = await caches.open(cacheName);
    await cache.put(name, new Response(bytes));
    for (const request of await cache.keys()) {
      if (!request.url.endsWith(`/${name}`)) await cache.delete(request);
    }
  } catch { /* not kept: made again next time */ }
}
