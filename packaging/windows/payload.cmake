# What the Windows archive holds, made from the built binaries (cmake -P, run by the build): the
# programs and libraries named, and every DLL they import, directly or through one another, found
# by walking the import tables (objdump -p's "DLL Name" entries) against the given folders. A DLL
# found in none of them must be one of Windows' own, which the MinGW sysroot knows by its import
# library; anything else stops the build, since the archive would not run. Each file is stripped into
# PAYLOAD_DIR/bin; its debug information goes to PAYLOAD_DIR/debug/<name>.debug, which the
# stripped file names through a debug link.
#
# -D arguments: ROOTS (;-list of our binaries), SEARCH_DIRS (;-list of folders with DLLs),
# SYSTEM_LIB_DIR (the sysroot's import libraries), OBJDUMP, OBJCOPY, PAYLOAD_DIR.

cmake_minimum_required(VERSION 3.25)

foreach(argument ROOTS SEARCH_DIRS SYSTEM_LIB_DIR OBJDUMP OBJCOPY PAYLOAD_DIR)
  if(NOT DEFINED ${argument})
    message(FATAL_ERROR "payload.cmake: -D${argument}=... is missing")
  endif()
endforeach()

# Windows looks DLL names up without regard to case; the folders here are on a file system that
# does not, so each folder's DLLs are known by their lower-case names (the first folder wins).
foreach(dir IN LISTS SEARCH_DIRS)
  file(GLOB dlls "${dir}/*.dll")
  foreach(dll IN LISTS dlls)
    get_filename_component(name "${dll}" NAME)
    string(TOLOWER "${name}" key)
    if(NOT DEFINED found_${key})
      set(found_${key} "${dll}")
    endif()
  endforeach()
endforeach()

# Breadth first through the import tables, from our binaries.
set(files ${ROOTS})
set(seen)
foreach(root IN LISTS ROOTS)
  get_filename_component(name "${root}" NAME)
  string(TOLOWER "${name}" key)
  list(APPEND seen "${key}")
endforeach()
set(missing)
set(queue ${ROOTS})
while(queue)
  list(POP_FRONT queue file)
  execute_process(COMMAND "${OBJDUMP}" -p "${file}" OUTPUT_VARIABLE headers RESULT_VARIABLE code)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "payload.cmake: ${OBJDUMP} cannot read ${file}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
  foreach(import IN LISTS imports)
    string(REGEX REPLACE "^DLL Name: " "" name "${import}")
    string(STRIP "${name}" name)
    string(TOLOWER "${name}" key)
    if(key IN_LIST seen)
      continue()
    endif()
    list(APPEND seen "${key}")
    if(DEFINED found_${key})
      list(APPEND files "${found_${key}}")
      list(APPEND queue "${found_${key}}")
    else()
      string(REGEX REPLACE "\\.dll$" "" stem "${key}")
      if(NOT EXISTS "${SYSTEM_LIB_DIR}/lib${stem}.a")
        list(APPEND missing "${name} (imported by ${file})")
      endif()
    endif()
  endforeach()
endwhile()
if(missing)
  list(JOIN SEARCH_DIRS ", " searched)
  list(JOIN missing ", " missing)
  message(FATAL_ERROR "payload.cmake: ${missing}: found neither in ${searched} nor among Windows' own DLLs")
endif()

file(REMOVE_RECURSE "${PAYLOAD_DIR}")
file(MAKE_DIRECTORY "${PAYLOAD_DIR}/bin" "${PAYLOAD_DIR}/debug")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code ERROR_VARIABLE error)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "payload.cmake: ${ARGN} failed: ${error}")
  endif()
endfunction()

foreach(file IN LISTS files)
  get_filename_component(name "${file}" NAME)
  set(stripped "${PAYLOAD_DIR}/bin/${name}")
  set(debug "${PAYLOAD_DIR}/debug/${name}.debug")
  execute_process(COMMAND "${OBJDUMP}" -h "${file}" OUTPUT_VARIABLE sections RESULT_VARIABLE code)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "payload.cmake: ${OBJDUMP} cannot read ${file}")
  endif()
  # A DLL that arrives without debug information gets no empty debug file.
  if(sections MATCHES "\\.debug_info")
    run("${OBJCOPY}" --only-keep-debug "${file}" "${debug}")
    run("${OBJCOPY}" --strip-all "--add-gnu-debuglink=${debug}" "${file}" "${stripped}")
  else()
    run("${OBJCOPY}" --strip-all "${file}" "${stripped}")
  endif()
endforeach()

list(LENGTH files count)
message(STATUS "Windows payload: ${count} files in ${PAYLOAD_DIR}/bin")
