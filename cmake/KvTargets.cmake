# Target helpers that keep the program's layers apart:
#  - logic libraries (kv_logic_library) may link QtCore, QtNetwork, QtSql and other
#    logic libraries only, so every decision can be tested without a window;
#  - widget code lives in kv_ui_library targets;
#  - logic tests (kv_logic_test) link logic libraries only.
# kv_check_layering() fails the configure step when a logic target reaches Gui/Widgets.

set(KV_VERSION_STRING "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
set_property(GLOBAL PROPERTY KV_LOGIC_TARGETS "")

# Sources default to every .cpp of the calling folder (not its subfolders).
function(kv_logic_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_SOURCES)
        file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    endif()
    list(FILTER ARG_SOURCES INCLUDE REGEX "\\.(cpp|h|qrc)$")
    set(cpp ${ARG_SOURCES})
    list(FILTER cpp INCLUDE REGEX "\\.cpp$")
    if(cpp)
        add_library(${name} STATIC ${ARG_SOURCES})
        set(scope PUBLIC)
    else()
        add_library(${name} INTERFACE) # headers only so far
        set(scope INTERFACE)
    endif()
    target_include_directories(${name} ${scope} ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} ${scope} Qt6::Core ${ARG_LIBS})
    target_compile_definitions(${name} ${scope} QT_NO_KEYWORDS)
    if(cpp)
        _kv_library_headers(${name} logic)
    endif()
    set_property(GLOBAL APPEND PROPERTY KV_LOGIC_TARGETS ${name})
endfunction()

function(kv_ui_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_SOURCES)
        file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
    endif()
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC Qt6::Widgets ${ARG_LIBS})
    _kv_library_headers(${name} ui)
endfunction()

# One QtTest program per class under test; registered with ctest.
function(kv_logic_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    set(headers <QTest> <QSignalSpy> <QTemporaryDir> <QFile> <QDir> <QProcess> <QElapsedTimer>)
    # Tests below the engine do not link Qt Network, so its headers are not theirs.
    _kv_collect_links(${name} deps)
    if(Qt6::Network IN_LIST deps)
        list(APPEND headers <QTcpServer> <QTcpSocket>)
    endif()
    _kv_test_headers(${name} logic ${headers})
    kv_register_test(${name})
    set_tests_properties(${name} PROPERTIES LABELS logic)
    set_property(GLOBAL APPEND PROPERTY KV_LOGIC_TARGETS ${name})
    set_property(GLOBAL APPEND PROPERTY KV_LOGIC_TESTS ${name})
endfunction()

function(kv_ui_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test Qt6::Widgets ${ARG_LIBS})
    _kv_test_headers(${name} ui <QTest> <QSignalSpy> <QTemporaryDir> <QFile> <QDir> <QApplication>
        <QPushButton> <QCheckBox> <QLineEdit> <QComboBox> <QLabel> <QTableView>)
    kv_register_test(${name})
endfunction()

# The Qt headers every library parses, precompiled: parsing them is about
# three quarters of compiling a typical file of ours. The Qt modules a library
# links choose the set.
function(_kv_library_headers name kind)
    _kv_collect_links(${name} deps)
    set(headers <functional> <memory> <optional> <vector> <QObject> <QString> <QStringList>
        <QByteArray> <QList> <QHash> <QMap> <QSet> <QVariant> <QDateTime> <QDir> <QFile>
        <QFileInfo> <QTimer> <QPointer> <QJsonObject> <QJsonArray> <QJsonDocument>)
    if(Qt6::Network IN_LIST deps)
        list(APPEND headers <QTcpSocket> <QTcpServer> <QSslSocket> <QHostAddress> <QSslCertificate>
            <QSslKey>)
    endif()
    if(Qt6::Sql IN_LIST deps)
        list(APPEND headers <QSqlDatabase> <QSqlQuery> <QSqlError>)
    endif()
    if(Qt6::Widgets IN_LIST deps)
        list(APPEND headers <QWidget> <QDialog> <QLabel> <QPushButton> <QLineEdit> <QCheckBox>
            <QComboBox> <QSpinBox> <QTableView> <QHeaderView> <QMessageBox> <QBoxLayout>
            <QGroupBox> <QFileDialog> <QAction>)
    endif()
    _kv_shared_headers(${name} library-${kind} ${headers})
endfunction()

# The Qt headers of the test programs are precompiled once per kind (logic or
# widgets) and set of definitions the linked libraries bring: the first test
# of a set builds them, the others reuse them. The compiler takes a
# precompiled header only when every -D matches, so the folder names QtTest
# would define are left out (no test looks
# its data up through QFINDTESTDATA; they read KV_SOURCE_DIR), and the mocs
# file, empty for tests, skips the header.
set_property(TARGET Qt6::Test PROPERTY INTERFACE_COMPILE_DEFINITIONS QT_TESTLIB_LIB)
function(_kv_test_headers name kind)
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${name}_autogen/mocs_compilation.cpp
        PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
    _kv_shared_headers(${name} ${kind} ${ARGN})
endfunction()

# `headers` precompiled for `name`, or those of an earlier target of the same
# kind and definitions reused.
function(_kv_shared_headers name kind)
    _kv_collect_links(${name} deps)
    set(defs "")
    foreach(d IN LISTS deps)
        get_target_property(more ${d} INTERFACE_COMPILE_DEFINITIONS)
        if(more)
            list(APPEND defs ${more})
        endif()
    endforeach()
    list(SORT defs)
    list(REMOVE_DUPLICATES defs)
    string(MD5 kind "${kind};${defs}")
    target_compile_options(${name} PRIVATE -Winvalid-pch) # says so when it falls back
    get_property(donor GLOBAL PROPERTY KV_TEST_HEADERS_${kind})
    if(donor)
        target_precompile_headers(${name} REUSE_FROM ${donor})
    else()
        target_precompile_headers(${name} PRIVATE ${ARGN})
        set_property(GLOBAL PROPERTY KV_TEST_HEADERS_${kind} ${name})
    endif()
endfunction()

# Every test runs headless with settings, data and cache folders in a scratch folder,
# never the real home folder.
function(kv_register_test name)
    add_test(NAME ${name} COMMAND ${name})
    set(scratch "${CMAKE_BINARY_DIR}/test-home/${name}")
    set_tests_properties(${name} PROPERTIES ENVIRONMENT
        "QT_QPA_PLATFORM=offscreen;HOME=${scratch};XDG_CONFIG_HOME=${scratch}/config;XDG_DATA_HOME=${scratch}/data;XDG_CACHE_HOME=${scratch}/cache;XDG_RUNTIME_DIR=${scratch}/runtime;KV_BUILD_DIR=${CMAKE_BINARY_DIR};KV_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# kv_logic_tests builds the logic tests alone (ctest -L logic runs them): the
# sanitizer run uses it so it need not compile the widgets a second time.
function(kv_add_logic_tests_target)
    get_property(tests GLOBAL PROPERTY KV_LOGIC_TESTS)
    add_custom_target(kv_logic_tests)
    add_dependencies(kv_logic_tests ${tests})
endfunction()

function(_kv_collect_links target out)
    set(seen "")
    set(queue ${target})
    while(queue)
        list(POP_FRONT queue t)
        if(t IN_LIST seen OR NOT TARGET ${t})
            continue()
        endif()
        list(APPEND seen ${t})
        get_target_property(libs ${t} LINK_LIBRARIES)
        get_target_property(ilibs ${t} INTERFACE_LINK_LIBRARIES)
        foreach(l IN LISTS libs ilibs)
            if(l AND NOT l MATCHES "NOTFOUND$" AND NOT l MATCHES "^\\$<")
                list(APPEND queue ${l})
            endif()
        endforeach()
    endwhile()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(kv_check_layering)
    get_property(targets GLOBAL PROPERTY KV_LOGIC_TARGETS)
    foreach(t IN LISTS targets)
        _kv_collect_links(${t} deps)
        foreach(d IN LISTS deps)
            if(d MATCHES "Qt6::(Gui|Widgets)$")
                message(FATAL_ERROR "Logic target ${t} must not link ${d}")
            endif()
        endforeach()
    endforeach()
endfunction()

# Reads the #include lines of every layer's sources on each build (and as a
# test), so a header-only include that runs up the layers fails too.
function(kv_check_includes)
    set(script ${PROJECT_SOURCE_DIR}/cmake/CheckIncludes.cmake)
    set(sources "")
    foreach(layer IN LISTS KV_LAYERS)
        file(GLOB_RECURSE found CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/${layer}/*.h ${PROJECT_SOURCE_DIR}/${layer}/*.cpp
             ${PROJECT_SOURCE_DIR}/tests/${layer}/*.h ${PROJECT_SOURCE_DIR}/tests/${layer}/*.cpp)
        list(APPEND sources ${found})
    endforeach()
    set(stamp ${CMAKE_BINARY_DIR}/layer-includes.stamp)
    string(REPLACE ";" "," layers "${KV_LAYERS}") # a list would split into arguments
    set(args -DROOT=${PROJECT_SOURCE_DIR} -DLAYERS=${layers})
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} ${args} -DSTAMP=${stamp} -P ${script}
        DEPENDS ${sources} ${script}
        COMMENT "Checking that includes run down the layers" VERBATIM)
    add_custom_target(kv_layer_includes ALL DEPENDS ${stamp})
    add_test(NAME layer_includes COMMAND ${CMAKE_COMMAND} ${args} -P ${script})
endfunction()
