# The pictures of assets/ in the image bank's order (common/picture.h): the star field, the
# globe, the end card. The native build packs them into the program (src/visuals); the web
# page fetches them in this order from the list the web build writes (web/).
function(starglobe_picture_files out_var)
  set(assets ${PROJECT_SOURCE_DIR}/assets)
  file(GLOB star_pngs CONFIGURE_DEPENDS ${assets}/stars/*.png)
  file(GLOB globe_pngs CONFIGURE_DEPENDS ${assets}/globe/*.png)
  list(SORT star_pngs)
  list(SORT globe_pngs)
  set(${out_var} ${star_pngs} ${globe_pngs} ${assets}/end_card.png PARENT_SCOPE)
endfunction()
