# The last step of the install: writes CVUninst.wqi beside the installed
# CVUninst, the install-information file it reads when started without an
# argument. It lists every file this install step put in place
# (CMAKE_INSTALL_MANIFEST_FILES) and those an earlier install put in place
# and this one left alone, the shortcuts (.desktop files) after the other
# files, then the folders of the installation tree that no installed file
# keeps, and the journal catalog of the logging library. plserv is marked
# self-registering: removing it first runs
# "plserv /unregserver", which takes back its registration. Paths are those of
# the installed machine (without DESTDIR).
#
# Set before it is included: PLX_UNINST_TITLE, PLX_UNINST_COMPANY,
# PLX_UNINST_APP, PLX_UNINST_VERSION.

cmake_policy(PUSH)
cmake_policy(VERSION 3.25)

set(_destdir "$ENV{DESTDIR}")
get_filename_component(_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)

# Folders of the installation tree that an install rule may leave empty.
set(_tree_folders temp logs data)
# Installed programs that register themselves.
set(_self_registering plserv)

set(_installed ${CMAKE_INSTALL_MANIFEST_FILES})
list(REMOVE_DUPLICATES _installed)

# Where CVUninst went (bin/ unless its rule says otherwise).
set(_info_dir "${_prefix}/bin")
set(_paths "")
string(LENGTH "${_destdir}" _cut)
foreach(_file IN LISTS _installed)
  if(_cut GREATER 0)
    string(SUBSTRING "${_file}" 0 ${_cut} _head)
    if(_head STREQUAL _destdir)
      string(SUBSTRING "${_file}" ${_cut} -1 _file)
    endif()
  endif()
  # A rule with DESTINATION "." lists "<prefix>/./<name>".
  cmake_path(NORMAL_PATH _file)
  list(APPEND _paths "${_file}")
  if(_file MATCHES "/CVUninst$")
    get_filename_component(_info_dir "${_file}" DIRECTORY)
  endif()
endforeach()
set(_info "${_info_dir}/CVUninst.wqi")

set(_files "")
set(_shortcuts "")
foreach(_path IN LISTS _paths)
  if(_path STREQUAL _info OR _path MATCHES "\n")
    continue()
  endif()
  if(_path MATCHES "\\.desktop$")
    list(APPEND _shortcuts "${_path}")
  else()
    list(APPEND _files "${_path}")
  endif()
endforeach()

set(_items "")
set(_count 0)
# Appends "File<n>=<fields>".
function(_plx_add_fields fields)
  string(APPEND _items "File${_count}=${fields}\n")
  math(EXPR _next "${_count} + 1")
  set(_items "${_items}" PARENT_SCOPE)
  set(_count ${_next} PARENT_SCOPE)
endfunction()
macro(_plx_add_item path size self_registering file_time)
  string(REPLACE "\"" "\"\"" _quoted "${path}")
  _plx_add_fields("\"${_quoted}\",,No,${size},${self_registering},No,0,,${file_time},No")
endmacro()
# A file as it is now: size, age, and whether it registers itself.
macro(_plx_add_file path)
  set(_on_disk "${_destdir}${path}")
  set(_listed TRUE)
  if(IS_SYMLINK "${_on_disk}")
    # A link's own age is not what the uninstaller checks: no check.
    set(_size 0)
    set(_time 0)
  elseif(EXISTS "${_on_disk}")
    file(SIZE "${_on_disk}" _size)
    file(TIMESTAMP "${_on_disk}" _time "%s" UTC)
  else()
    set(_listed FALSE)
  endif()
  if(_listed)
    get_filename_component(_name "${path}" NAME)
    set(_self No)
    if(_name IN_LIST _self_registering)
      set(_self Yes)
    endif()
    _plx_add_item("${path}" ${_size} ${_self} ${_time})
  endif()
endmacro()

foreach(_path IN LISTS _files)
  _plx_add_file("${_path}")
endforeach()
# The journal catalog pleventreg installs for the logging library
# (pllog/EventCatalog.h) goes with the installation, when it is there.
set(_root "$ENV{PLX_INSTALL_ROOT}")
if(_root STREQUAL "")
  set(_root "/")
endif()
get_filename_component(_root "${_root}" ABSOLUTE)
set(_catalog "${_root}/usr/lib/systemd/catalog/korvane-plx.catalog")
cmake_path(NORMAL_PATH _catalog)
list(APPEND _paths "${_catalog}")
# Files an earlier install put in place that this one left alone (settings
# an update keeps) stay listed as they were recorded then.
if(EXISTS "${_destdir}${_info}")
  file(STRINGS "${_destdir}${_info}" _old_lines REGEX "^File[0-9]+=\"")
  foreach(_line IN LISTS _old_lines)
    if(_line MATCHES "^File[0-9]+=(\"((\"\"|[^\"])*)\".*)$")
      set(_fields "${CMAKE_MATCH_1}")
      string(REPLACE "\"\"" "\"" _old "${CMAKE_MATCH_2}")
      if(NOT _old IN_LIST _paths AND EXISTS "${_destdir}${_old}" AND NOT IS_DIRECTORY "${_destdir}${_old}")
        _plx_add_fields("${_fields}")
      endif()
    endif()
  endforeach()
endif()
foreach(_path IN LISTS _shortcuts)
  _plx_add_file("${_path}")
endforeach()
_plx_add_item("${_catalog}" 0 No 0)
foreach(_folder IN LISTS _tree_folders)
  if(IS_DIRECTORY "${_destdir}${_prefix}/${_folder}")
    _plx_add_item("${_prefix}/${_folder}" 0 No 0)
  endif()
endforeach()

set(_text "Ver=1
AppCompany=${PLX_UNINST_COMPANY}
AppName=${PLX_UNINST_APP}
AppVer=${PLX_UNINST_VERSION}
Title=${PLX_UNINST_TITLE}
BaseDir=${_prefix}
HaveUnInstaller=Yes
InstallerType=0
RegRefCount=0
FileCount=${_count}
ShortCutCount=0
RegCount=0
${_items}")
message(STATUS "Installing: ${_destdir}${_info}")
file(WRITE "${_destdir}${_info}" "${_text}")
# Never writable by others: run as root, CVUninst refuses such a file.
file(CHMOD "${_destdir}${_info}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${_destdir}${_info}")

cmake_policy(POP)
