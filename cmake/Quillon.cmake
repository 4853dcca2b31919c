# Shared helpers for the project's targets.

# The libraries form layers, lowest first. A library may link only libraries of a
# lower layer, and only the widget layers may link Qt Widgets. quillon_check_layers()
# enforces both at configure time, so a wrong link fails the build (and CI).
set(QUILLON_LAYERS
    codec           # text codecs, checksums, CRCs, Modbus frames
    settings        # settings record, documents, preferences
    logging         # data log writer
    connection      # transports and the RFC 2217 client
    session         # one port's I/O: the port session
    features        # transfer, bridge, cloud: attach to sessions
    dialogs         # settings dialogs and the widgets they share
    views           # the pane, feature windows, tools
    app)            # start-up and the main window
set(QUILLON_WIDGET_LAYERS dialogs views app)

# Two precompiled headers shared by every target: Qt Core, Gui values and Network for
# the non-widget layers and programs, plus Qt Widgets for the rest. They are built with
# QT_CORE_LIB as their only Qt define, since GCC refuses a header built with a define
# that the using target lacks; more defines at the use are fine.
function(quillon_setup_pch)
    if(QUILLON_FUZZ OR NOT QUILLON_PCH OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        return()
    endif()
    foreach(kind core widgets)
        add_library(quillon_pch_${kind} STATIC ${PROJECT_SOURCE_DIR}/cmake/pch/pch.cpp)
        target_link_libraries(quillon_pch_${kind} PRIVATE Qt6::Core)
        foreach(module Gui Network SerialPort Widgets)
            target_include_directories(quillon_pch_${kind} SYSTEM PRIVATE
                $<TARGET_PROPERTY:Qt6::${module},INTERFACE_INCLUDE_DIRECTORIES>)
        endforeach()
        target_precompile_headers(quillon_pch_${kind} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/pch/${kind}.h)
    endforeach()
endfunction()

function(quillon_use_pch target layer)
    if(NOT TARGET quillon_pch_core)
        return()
    endif()
    if(layer IN_LIST QUILLON_WIDGET_LAYERS OR layer STREQUAL "tests")
        target_precompile_headers(${target} REUSE_FROM quillon_pch_widgets)
    else()
        target_precompile_headers(${target} REUSE_FROM quillon_pch_core)
    endif()
endfunction()

# quillon_add_library(name LAYER layer SOURCES ... LIBS ...): one static library per folder.
function(quillon_add_library name)
    cmake_parse_arguments(ARG "" "LAYER" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_LAYER OR NOT ARG_LAYER IN_LIST QUILLON_LAYERS)
        message(FATAL_ERROR "${name}: LAYER must be one of ${QUILLON_LAYERS}")
    endif()
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES QUILLON_LAYER ${ARG_LAYER})
    quillon_use_pch(${name} ${ARG_LAYER})
    set_property(GLOBAL APPEND PROPERTY QUILLON_LIBRARIES ${name})
endfunction()

# quillon_add_program(name OUTPUT_NAME file SOURCES ... LIBS ...): a command-line
# program or service; it may not link any widget library.
function(quillon_add_program name)
    cmake_parse_arguments(ARG "" "OUTPUT_NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    if(ARG_OUTPUT_NAME)
        set_target_properties(${name} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
    endif()
    set_target_properties(${name} PROPERTIES QUILLON_LAYER features QUILLON_PROGRAM ON)
    quillon_use_pch(${name} features)
    install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    set_property(GLOBAL APPEND PROPERTY QUILLON_LIBRARIES ${name})
endfunction()

function(_quillon_layer_index target out)
    get_target_property(layer ${target} QUILLON_LAYER)
    list(FIND QUILLON_LAYERS "${layer}" index)
    set(${out} ${index} PARENT_SCOPE)
endfunction()

# Every library or program and its direct links; the transitive closure is walked for
# Qt Widgets, since a static library passes its links on to whoever links it.
function(quillon_check_layers)
    get_property(targets GLOBAL PROPERTY QUILLON_LIBRARIES)
    set(errors "")
    foreach(target ${targets})
        _quillon_layer_index(${target} own)
        get_target_property(layer ${target} QUILLON_LAYER)
        get_target_property(links ${target} LINK_LIBRARIES)
        if(NOT links)
            set(links "")
        endif()
        foreach(link ${links})
            if(TARGET ${link})
                get_target_property(other ${link} QUILLON_LAYER)
                if(other)
                    _quillon_layer_index(${link} theirs)
                    get_target_property(program ${target} QUILLON_PROGRAM)
                    if(program AND NOT theirs LESS_EQUAL own)
                        string(APPEND errors "  ${target} (${layer}) links ${link} (${other})\n")
                    elseif(NOT program AND NOT theirs LESS own)
                        string(APPEND errors "  ${target} (${layer}) links ${link} (${other}), which is not below it\n")
                    endif()
                endif()
            endif()
        endforeach()
        if(NOT layer IN_LIST QUILLON_WIDGET_LAYERS)
            set(seen "")
            set(queue ${links})
            while(queue)
                list(POP_FRONT queue link)
                if(link IN_LIST seen OR NOT TARGET ${link})
                    continue()
                endif()
                list(APPEND seen ${link})
                if(link STREQUAL "Qt6::Widgets")
                    string(APPEND errors "  ${target} (${layer}) reaches Qt6::Widgets\n")
                    break()
                endif()
                get_target_property(more ${link} INTERFACE_LINK_LIBRARIES)
                if(more)
                    foreach(m ${more})
                        # Strip generator expressions such as $<LINK_ONLY:x>.
                        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" m "${m}")
                        list(APPEND queue ${m})
                    endforeach()
                endif()
            endwhile()
        endif()
    endforeach()
    if(errors)
        message(FATAL_ERROR "Library layers broken:\n${errors}")
    endif()
endfunction()

# quillon_add_test(name SOURCES ... LIBS ... [GUI] [TIMEOUT s] [LABELS ...])
# Widget tests (GUI) run on the offscreen platform so they need no display.
function(quillon_add_test name)
    cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    if(QUILLON_FUZZ OR NOT QUILLON_TESTS)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    quillon_use_pch(${name} tests)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set(env "QT_QPA_PLATFORM=offscreen" "QUILLON_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
            "QUILLON_TEST_DATA=${CMAKE_CURRENT_SOURCE_DIR}" "QUILLON_BINARY_DIR=${PROJECT_BINARY_DIR}")
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${env}")
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()

# quillon_add_fuzzer(name SOURCES ... LIBS ...): only in the clang fuzz build.
function(quillon_add_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    if(NOT QUILLON_FUZZ)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzzers)
    if(NOT TARGET fuzzers)
        add_custom_target(fuzzers)
    endif()
    add_dependencies(fuzzers ${name})
endfunction()

# quillon_add_bench(name SOURCES ... LIBS ...): benchmark runners print figures, never assert timing.
function(quillon_add_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    quillon_use_pch(${name} tests)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
endfunction()
