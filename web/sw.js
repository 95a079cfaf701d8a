// The page's service worker: on install it keeps every file of the site in Cache Storage, and
// it answers the page's requests from there, so that after one visit the page opens at once and
// works with no network. The build writes the list of files and the version, made of their
// digests (offline.cmake): a new build installs a new copy, which takes over once no page of
// the old one is open, and the old copy is deleted then.
'use strict';
const kVersion = '@VERSION@';
const kFiles = [@FILES@];
const kPrefix = 'starglobe-site-';
const kCacheName = kPrefix + kVersion;

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(kCacheName).then((cache) => cache.addAll(['./', ...kFiles])));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys().then((names) => Promise.all(names
    .filter((name) => name.startsWith(kPrefix) && name !== kCacheName)
    .map((name) => caches.delete(name)))));
});

// The query is the page's own (capture mode's ?fps=F&frames=N): the file is the same.
self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  event.respondWith(caches.open(kCacheName)
    .then((cache) => cache.match(event.request, { ignoreSearch: true }))
    .then((kept) => kept ?? fetch(event.request)));
});
