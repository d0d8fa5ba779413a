# The layers of src/ and the layers each may include from (itself and those beneath it):
#
#   base <- platform <- json, net <- catalogue, http <- api
#
# tessora_check_layers(<src dir>) stops the configuration with a list of every include that points
# upward or sideways. Also runs as a script, for the test suite:
#   cmake -DTESSORA_SRC_DIR=<src dir> -P CheckLayers.cmake
cmake_policy(SET CMP0057 NEW)

set(TESSORA_LAYERS_base base)
set(TESSORA_LAYERS_platform base platform)
set(TESSORA_LAYERS_json base platform json)
set(TESSORA_LAYERS_net base platform net)
set(TESSORA_LAYERS_catalogue base platform json catalogue)
set(TESSORA_LAYERS_http base platform net http)
set(TESSORA_LAYERS_api base platform json net catalogue http api)

function(tessora_check_layers src_dir)
  set(faults "")
  foreach(layer base platform json net catalogue http api)
    file(GLOB_RECURSE files ${src_dir}/${layer}/*.h ${src_dir}/${layer}/*.cpp
      ${src_dir}/${layer}/*.inc)
    foreach(file IN LISTS files)
      file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" path "${line}")
        if(NOT path MATCHES "/")
          # The public header and the layer's own files next to it need no path.
          continue()
        endif()
        string(REGEX REPLACE "/.*$" "" target_layer "${path}")
        if(NOT target_layer IN_LIST TESSORA_LAYERS_${layer})
          file(RELATIVE_PATH shown ${src_dir} ${file})
          list(JOIN TESSORA_LAYERS_${layer} ", " allowed)
          string(APPEND faults "\n  ${shown}: #include \"${path}\" (${layer} may include: ${allowed})")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(faults)
    message(FATAL_ERROR "Includes that point up or across the layers:${faults}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND TESSORA_SRC_DIR)
  tessora_check_layers(${TESSORA_SRC_DIR})
endif()
