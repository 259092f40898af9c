# SPDX-License-Identifier: MIT
# The layer rule, checked on every build: a file may include only headers of its own folder
# and of the layers below it. Linking alone cannot enforce this, since a header-only include
# from above builds. Run as: cmake -DSOURCE_DIR=<tree> -DSTAMP=<file> -P CheckLayers.cmake
#
# Each layer (a folder) with the layers it builds on directly; a subfolder is a layer of its
# own, below or above its parent as listed. A new folder must be given its place here.
cmake_minimum_required(VERSION 3.25)

set(layers
    "runtime/files:"
    "runtime:runtime/files"
    "imaging/core:runtime/files"
    "imaging/bmpcore:imaging/core"
    "imaging:imaging/bmpcore,runtime"
    "conversion:imaging"
    "filelist:runtime"
    "filelist/widgets:filelist"
    "background:runtime"
    "app:conversion,filelist/widgets,background"
    "tools/common:imaging/bmpcore"
    "tools/png2bmp:tools/common"
    "tools/bmp2png:tools/common"
    "tools/reader:tools/common"
    "tools/batch:conversion")
set(product_roots runtime imaging conversion filelist background app tools)

set(names "")
foreach(entry IN LISTS layers)
    string(REPLACE ":" ";" parts "${entry}")
    list(GET parts 0 name)
    list(LENGTH parts n)
    set(below "")
    if(n GREATER 1)
        list(GET parts 1 below)
        string(REPLACE "," ";" below "${below}")
    endif()
    list(APPEND names ${name})
    set("below_${name}" ${below})
endforeach()

# Everything a layer may include: itself and, transitively, what lies below it.
foreach(name IN LISTS names)
    set(reach ${name})
    set(queue ${below_${name}})
    while(queue)
        list(POP_FRONT queue next)
        if(NOT next IN_LIST reach)
            list(APPEND reach ${next})
            list(APPEND queue ${below_${next}})
        endif()
    endwhile()
    set("reach_${name}" ${reach})
endforeach()

set(faults "")
foreach(root IN LISTS product_roots)
    file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${root}/*.cpp"
        "${SOURCE_DIR}/${root}/*.h")
    foreach(source IN LISTS sources)
        get_filename_component(folder "${source}" DIRECTORY)
        if(NOT folder IN_LIST names)
            list(APPEND faults "${source}: its folder ${folder} has no place in the layer table of cmake/CheckLayers.cmake")
            continue()
        endif()
        file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
            string(REGEX MATCH "^[^/]+" top "${header}")
            if(NOT top IN_LIST product_roots)
                continue()
            endif()
            get_filename_component(target "${header}" DIRECTORY)
            if(NOT target IN_LIST reach_${folder})
                string(JOIN ", " allowed ${reach_${folder}})
                list(APPEND faults "${source} includes ${header}, but ${folder} may include only ${allowed}")
            endif()
        endforeach()
    endforeach()
endforeach()

if(faults)
    string(JOIN "\n  " text ${faults})
    message(FATAL_ERROR "Layer rule broken (each folder uses only the layers below it):\n  ${text}")
endif()
file(TOUCH "${STAMP}")
