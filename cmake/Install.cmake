# `cmake --install`: the cihear executable, and the C++ library (include/cihear/cihear.h) as a
# CMake package, so that a program says find_package(cihear) and links cihear::cihear.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS cihear RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The library is the engine and the static libraries beneath it, gathered in one target.
set(cihear_library_parts cihear_engine cihear_io cihear_wav cihear_stages cihear_sim cihear_dsp cihear_params
                          cihear_signal)
add_library(cihear_library INTERFACE)
target_link_libraries(cihear_library INTERFACE cihear_engine)
target_include_directories(cihear_library INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_features(cihear_library INTERFACE cxx_std_17)
set_target_properties(cihear_library PROPERTIES EXPORT_NAME cihear)

install(TARGETS cihear_library ${cihear_library_parts} EXPORT cihearTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/cihear/cihear.h
              ${PROJECT_SOURCE_DIR}/include/cihear/parameter_list.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/cihear)

set(cihear_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/cihear)
install(EXPORT cihearTargets NAMESPACE cihear:: DESTINATION ${cihear_cmake_dir})
file(WRITE ${PROJECT_BINARY_DIR}/cihearConfig.cmake
     "include(CMakeFindDependencyMacro)\nfind_dependency(Threads)\n"
     "include(\"\${CMAKE_CURRENT_LIST_DIR}/cihearTargets.cmake\")\n")
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cihearConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cihearConfig.cmake ${PROJECT_BINARY_DIR}/cihearConfigVersion.cmake
        DESTINATION ${cihear_cmake_dir})
