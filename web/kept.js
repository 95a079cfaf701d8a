// What the page keeps in IndexedDB from one visit to the next (read back as a Blob, which both
// browsers read faster than a response from Cache Storage): one thing per slot, under a name
// that says which build's it is (a digest), so a slot holds only the latest. Where the browser
// keeps nothing (storage refused or full, or no IndexedDB), everything is simply made again.
const kDatabase = 'starglobe';
const kStore = 'kept';

function request(what) {
  return new Promise((resolve, reject) => {
    what.onsuccess = () => resolve(what.result);
    what.onerror = () => reject(what.error);
  });
}

let database = null;
function open() {
  database ??= (async () => {
    const opening = indexedDB.open(kDatabase, 1);
    opening.onupgradeneeded = () => opening.result.createObjectStore(kStore);
    return request(opening);
  })();
  return database;
}

// The Blob kept in `slot` under `name`, or null. `name` may be a promise: the slot is read
// meanwhile.
export async function readKept(slot, name) {
  try {
    const kept = request((await open()).transaction(kStore).objectStore(kStore).get(slot));
    return (await kept)?.name === await name ? (await kept).blob : null;
  } catch {
    return null;
  }
}

// Keeps `bytes` in `slot` under `name`, in place of what was there.
export async function keep(slot, name, bytes) {
  try {
    const writing = (await open()).transaction(kStore, 'readwrite');
    writing.objectStore(kStore).put({ name, blob: new Blob([bytes]) }, slot);
    await new Promise((resolve, reject) => {
      writing.oncomplete = resolve;
      writing.onerror = () => reject(writing.error);
      writing.onabort = () => reject(writing.error);
    });
  } catch { /* not kept: made again next time */ }
}

// Lets go of what `slot` holds.
export async function forget(slot) {
  try {
    await request((await open()).transaction(kStore, 'readwrite').objectStore(kStore)
      .delete(slot));
  } catch { /* nothing to let go */ }
}
