# QUILLET_SANITIZE=address,undefined builds everything with ASan+UBSan;
# QUILLET_SANITIZE=thread with TSan. Applied globally so libraries and tests agree.
if(QUILLET_SANITIZE)
  set(_san "-fsanitize=${QUILLET_SANITIZE}" -fno-omit-frame-pointer -g)
  if(QUILLET_SANITIZE MATCHES "undefined")
    list(APPEND _san -fno-sanitize-recover=undefined)
  endif()
  add_compile_options(${_san})
  add_link_options(${_san})
endif()
