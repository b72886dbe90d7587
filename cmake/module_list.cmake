# The CMake reader of build_scripts/modules.txt, the one list of modules. The
# rules, the same in every reader of the list (build_scripts/module_list.py,
# module_list.awk, read_module_list.m and this file): a line whose first
# non-blank character is # is a note; a line of blanks only is skipped; any
# other line is a module row, fields separated by runs of blanks (spaces,
# tabs), leading and trailing blanks and one carriage return at the end of
# the line ignored; a row with fewer than 8 fields is an error that names the
# file and the line.
#
# read_module_list(<file> <prefix>) sets, in the caller's scope,
#   <prefix>_ROWS          1 .. n, one index per row, in file order
#   <prefix>_<i>_LINE      row i's line number (from 1)
#   <prefix>_<i>_FIELDS    row i's fields (a CMake list; a ';' inside a
#                          field's [] stays in its field)
#
# As a script, for the test that feeds every reader the same lists:
#   cmake -DMODULE_LIST=<file> -DOUTPUT=<file> -P module_list.cmake
# writes each row's fields joined by single blanks, one row a line.
function(read_module_list file prefix)
  file(READ "${file}" text)
  # Each line taken in turn, by position: a CMake list of the lines would
  # split at the ';' of the example matrices.
  set(rows "")
  set(number 0)
  set(count 0)
  string(LENGTH "${text}" remaining)
  while(remaining GREATER 0)
    string(FIND "${text}" "\n" end)
    if(end EQUAL -1)
      set(line "${text}")
      set(text "")
    else()
      string(SUBSTRING "${text}" 0 ${end} line)
      math(EXPR next "${end} + 1")
      string(SUBSTRING "${text}" ${next} -1 text)
    endif()
    string(LENGTH "${text}" remaining)
    math(EXPR number "${number} + 1")
    string(REGEX REPLACE "\r$" "" line "${line}")
    string(REGEX REPLACE "^[ \t]+" "" line "${line}")
    string(REGEX REPLACE "[ \t]+$" "" line "${line}")
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    separate_arguments(fields UNIX_COMMAND "${line}")
    list(LENGTH fields field_count)
    if(field_count LESS 8)
      message(FATAL_ERROR "${file}:${number}: a module row needs 8 or more "
        "fields (<module> <kernel> <reference> <arguments> <example> "
        "<result> <gateway source> <kernel source>...), this one has "
        "${field_count}")
    endif()
    math(EXPR count "${count} + 1")
    list(APPEND rows ${count})
    set(${prefix}_${count}_LINE ${number} PARENT_SCOPE)
    set(${prefix}_${count}_FIELDS "${fields}" PARENT_SCOPE)
  endwhile()
  set(${prefix}_ROWS "${rows}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  read_module_list("${MODULE_LIST}" list)
  set(out "")
  foreach(row IN LISTS list_ROWS)
    list(JOIN list_${row}_FIELDS " " joined)
    string(APPEND out "${joined}\n")
  endforeach()
  file(WRITE "${OUTPUT}" "${out}")
endif()
