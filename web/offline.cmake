# Run at build time (cmake -P) once the site is built: writes soundtrack.json, the SHA-256 and
# size of the soundtrack the synthesizer makes (WAV), which the page holds its soundtrack
# against; pictures.json, the digest of pictures.bin, which names the pictures the page keeps;
# and then sw.js from its template (TEMPLATE) with every other file of the site (FILES, in
# SITE) and a version made of their digests.
file(SHA256 ${WAV} sha256)
file(SIZE ${WAV} bytes)
file(WRITE ${SITE}/soundtrack.json "{\"sha256\": \"${sha256}\", \"bytes\": ${bytes}}\n")

file(SHA256 ${SITE}/pictures.bin digest)
file(WRITE ${SITE}/pictures.json "{\"digest\": \"${digest}\"}\n")

set(files ${FILES})
list(SORT files)
set(digests "")
set(names "")
foreach(name ${files})
  file(SHA256 ${SITE}/${name} digest)
  string(APPEND digests "${digest} ${name}\n")
  list(APPEND names "'${name}'")
endforeach()
string(SHA256 version "${digests}")
string(SUBSTRING ${version} 0 16 VERSION)
list(JOIN names ", " FILES)
configure_file(${TEMPLATE} ${SITE}/sw.js @ONLY)
