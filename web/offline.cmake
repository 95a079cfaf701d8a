# Run at build time (cmake -P) once the site is built: writes soundtrack.json, the SHA-256 and
# size of the soundtrack the synthesizer makes (WAV), which the page holds its soundtrack
# against; pictures.json, the pictures' paths in the image bank's order (PICTURES) and a digest
# of their files, under which the page keeps them decoded; and then sw.js from its template
# (TEMPLATE) with every file of the site (SITE) and a version made of their digests.
file(SHA256 ${WAV} sha256)
file(SIZE ${WAV} bytes)
file(WRITE ${SITE}/soundtrack.json "{\"sha256\": \"${sha256}\", \"bytes\": ${bytes}}\n")

set(digests "")
set(paths "")
foreach(name ${PICTURES})
  file(SHA256 ${SITE}/${name} digest)
  string(APPEND digests "${digest} ${name}\n")
  list(APPEND paths "\"${name}\"")
endforeach()
string(SHA256 digest "${digests}")
list(JOIN paths ", " paths)
file(WRITE ${SITE}/pictures.json "{\"paths\": [${paths}], \"digest\": \"${digest}\"}\n")

file(GLOB_RECURSE files RELATIVE ${SITE} ${SITE}/*)
list(REMOVE_ITEM files sw.js)
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
