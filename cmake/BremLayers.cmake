# Folders join the build once they have a CMakeLists.txt, so each layer can land on its own.
function(brem_add_layer dir)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
        add_subdirectory(${dir})
    endif()
endfunction()

# Every subfolder of the current folder that has a CMakeLists.txt, in name order.
function(brem_add_subfolders)
    file(GLOB _dirs LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT _dirs)
    foreach(_dir IN LISTS _dirs)
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_dir})
            brem_add_layer(${_dir})
        endif()
    endforeach()
endfunction()
