# Run by CPack after it built the packages (CPACK_POST_BUILD_SCRIPTS). A
# package holding a shared library in the system's library directories gets
# from CPack a postinst and a postrm that call ldconfig; Debian's way is the
# ldconfig trigger. Such a package is rebuilt with the trigger in place of
# those two scripts, when they are CPack's and nothing else.
find_program(_dpkg_deb dpkg-deb REQUIRED)
foreach(_deb IN LISTS CPACK_PACKAGE_FILES)
  set(_tree "${_deb}.tree")
  file(REMOVE_RECURSE "${_tree}")
  execute_process(COMMAND ${_dpkg_deb} -R "${_deb}" "${_tree}" RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -R ${_deb} failed")
  endif()
  set(_control "${_tree}/DEBIAN")
  set(_ldconfig_only TRUE)
  foreach(_script postinst postrm)
    if(EXISTS "${_control}/${_script}")
      file(READ "${_control}/${_script}" _text)
      string(REGEX REPLACE "#!/bin/sh|set -e|if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then|ldconfig|fi|[ \t\n]" ""
        _rest "${_text}")
      if(NOT _rest STREQUAL "" OR NOT _text MATCHES "ldconfig")
        set(_ldconfig_only FALSE)
      endif()
    else()
      set(_ldconfig_only FALSE)
    endif()
  endforeach()
  if(_ldconfig_only)
    file(REMOVE "${_control}/postinst" "${_control}/postrm")
    file(WRITE "${_control}/triggers" "activate-noawait ldconfig\n")
    execute_process(COMMAND ${_dpkg_deb} --root-owner-group -b "${_tree}" "${_deb}"
      OUTPUT_QUIET RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "dpkg-deb -b ${_deb} failed")
    endif()
    message(STATUS "ldconfig trigger in place of CPack's scripts: ${_deb}")
  endif()
  file(REMOVE_RECURSE "${_tree}")
endforeach()
