# How the suite is installed (make install, make deb): every program, module
# and in-process server in one folder, lib/vellumate/ under the prefix (the
# "program's folder": files the programs expect beside them go there too),
# the commands users type linked into bin/, manual pages from man/, bash
# completions from completion/; desktop entries come with their programs.
#
# A new program joins with one line after its add_executable:
#   vm_install(myprogram)                       # lib/vellumate/myprogram
#   vm_install(myprogram COMMAND myprogram)     # ... and bin/myprogram
# an in-process server with vm_install(libtarget SERVER) (registered by the
# package's scripts and by make install), and its manual page as
# man/<name>.<section>.md.

set(VM_INSTALL_DIR lib/vellumate CACHE STRING "Folder of the programs, below the prefix")
set(VM_SYSTEM_REGISTRY /var/lib/vellumate/registry CACHE PATH
    "Registry folder an installation writes for every user (its registered servers)")
set(VM_SYSCONF_DIR /etc CACHE PATH
    "Folder of system-wide configuration (autostart entries, browsers' host manifests), whatever the prefix")
set_property(GLOBAL PROPERTY VM_INSTALLED_SERVERS "")

configure_file(${CMAKE_CURRENT_LIST_DIR}/install_paths.h.in ${CMAKE_BINARY_DIR}/generated/vellumate_install_paths.h
               @ONLY)

# vm_install(TARGET [COMMAND name] [SERVER])
function(vm_install target)
  cmake_parse_arguments(I "SERVER" "COMMAND" "" ${ARGN})
  install(TARGETS ${target} RUNTIME DESTINATION ${VM_INSTALL_DIR} LIBRARY DESTINATION ${VM_INSTALL_DIR})
  if(I_COMMAND)
    # A relative link, so that the tree works wherever DESTDIR puts it.
    set(link ${CMAKE_BINARY_DIR}/install-links/${I_COMMAND})
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
    file(CREATE_LINK ../${VM_INSTALL_DIR}/${target} ${link} SYMBOLIC)
    install(FILES ${link} DESTINATION bin)
  endif()
  if(I_SERVER)
    set_property(GLOBAL APPEND PROPERTY VM_INSTALLED_SERVERS "lib${target}.so")
  endif()
endfunction()

# vm_install_template(TEMPLATE DESTINATION [NAME name]): a file that names
# installed programs, filled in when it is installed (the prefix is known
# only then): @PROGRAMS@ is the programs' folder, @PRINTAGENT@, @VMEVENT@ and
# @NAVLET_HOST@ programs in it, @DOCUMENTATION@ the manual page. TEMPLATE is
# relative to the calling folder; NAME defaults to it without ".in".
function(vm_install_template template destination)
  cmake_parse_arguments(T "" "NAME" "" ${ARGN})
  get_filename_component(source ${template} ABSOLUTE)
  if(NOT T_NAME)
    get_filename_component(T_NAME ${template} NAME)
    string(REGEX REPLACE "\\.in$" "" T_NAME ${T_NAME})
  endif()
  string(MD5 key "${destination}/${T_NAME}")
  set(out ${CMAKE_BINARY_DIR}/install/templates/${key}/${T_NAME})
  install(CODE "
    set(PROGRAMS \"\${CMAKE_INSTALL_PREFIX}/${VM_INSTALL_DIR}\")
    set(PRINTAGENT \"\${PROGRAMS}/printagent\")
    set(VMEVENT \"\${PROGRAMS}/vmevent\")
    set(NAVLET_HOST \"\${PROGRAMS}/navlet-host\")
    set(DOCUMENTATION \"man:printagent(1)\")
    configure_file(\"${source}\" \"${out}\" @ONLY)")
  install(FILES ${out} DESTINATION ${destination})
endfunction()

# Called once every component is added: the list of servers to register,
# manual pages, completions, desktop entries and the registration script.
function(vm_install_finish)
  get_property(servers GLOBAL PROPERTY VM_INSTALLED_SERVERS)
  list(JOIN servers "\n" text)
  file(WRITE ${CMAKE_BINARY_DIR}/install/servers "${text}\n")
  install(FILES ${CMAKE_BINARY_DIR}/install/servers DESTINATION ${VM_INSTALL_DIR})
  # What a server writes beside itself when it registers (a type library)
  # belongs to the installation, so that removing it leaves nothing behind:
  # written here once, through a scratch registry.
  if(servers AND TARGET regsvr)
    set(scratch ${CMAKE_BINARY_DIR}/install/scratch-registry)
    foreach(lib ${servers})
      install(CODE "
        file(REMOVE_RECURSE \"${scratch}\")
        execute_process(COMMAND \${CMAKE_COMMAND} -E env VELLUMATE_REGISTRY=${scratch}
                                  HOME=${scratch}/home XDG_CONFIG_HOME=${scratch}/home/.config
                          \"$<TARGET_FILE:regsvr>\" /s \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${VM_INSTALL_DIR}/${lib}\"
                        RESULT_VARIABLE rc)
        file(REMOVE_RECURSE \"${scratch}\")
        if(NOT rc EQUAL 0)
          message(FATAL_ERROR \"${lib} could not be registered in a scratch registry\")
        endif()")
    endforeach()
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/vellumate-servers.in ${CMAKE_BINARY_DIR}/install/vellumate-servers
                 @ONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/install/vellumate-servers DESTINATION ${VM_INSTALL_DIR})

  # Manual pages: man/NAME.SECTION.md, written in markdown, made into roff by go-md2man.
  find_program(GO_MD2MAN go-md2man)
  file(GLOB pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.md)
  if(pages AND NOT GO_MD2MAN)
    message(WARNING "go-md2man not found: no manual pages are built")
  elseif(pages)
    set(outputs "")
    foreach(page ${pages})
      get_filename_component(name ${page} NAME_WLE)   # vellumate.1
      string(REGEX MATCH "[0-9]$" section ${name})
      set(out ${CMAKE_BINARY_DIR}/man/${name})
      add_custom_command(OUTPUT ${out}.gz
        COMMAND ${GO_MD2MAN} -in ${page} -out ${out}
        COMMAND gzip -9nf ${out}
        DEPENDS ${page}
        COMMENT "Manual page ${name}"
        VERBATIM)
      list(APPEND outputs ${out}.gz)
      install(FILES ${out}.gz DESTINATION share/man/man${section})
    endforeach()
    add_custom_target(manpages ALL DEPENDS ${outputs})
  endif()

  file(GLOB completions CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/completion/*)
  install(FILES ${completions} DESTINATION share/bash-completion/completions)
  # Desktop entries beside their programs' sources install themselves
  # (converter/ui: vellumate.desktop and its icon).
endfunction()
