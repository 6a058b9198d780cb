# Debian packages, one per install component (cpack -G DEB in the build):
#   programs -> harvestodb           the programs, the launchers, the Slurm job script
#   library  -> libharvestodb<major> the shared library
#   dev      -> libharvestodb-dev    headers, CMake package, pkg-config file
#   python   -> python3-harvestodb   the Python package and its compiled module
# dpkg-shlibdeps adds what the compiled files link (HDF5, the C++ runtime);
# what the launchers and the Python package need at run time is listed here.
# A component without install rules in this build makes no package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME harvestodb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "harvestodb developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extreme values from finite-element result databases")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)  # the packages carry no debugging information
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "harvestodb developers <harvestodb@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A file that links libharvestodb.so.0 (the Python module may) finds it in the
# build; the dependency on its package is the component dependency below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)  # CPACK_COMPONENT_<C>_DEPENDS become "pkg (= version)"

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME harvestodb)
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
    "harvestodb, odbinfo, ccx2odb, odbgen and the veltra launcher; harvest-many and harvest-plot")
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "python3, python3-numpy, python3-matplotlib, parallel")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libharvestodb${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "reader and writer of harvestodb result databases (shared library)")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # the shlibs file of libharvestodb0, and its ldconfig trigger

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libharvestodb-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "reader and writer of harvestodb result databases (C++ headers, CMake package, pkg-config file)")
set(CPACK_COMPONENT_DEV_DEPENDS library)

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-harvestodb)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "reader and writer of harvestodb result databases (Python module)")
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3, python3-numpy")

get_cmake_property(harvest_components COMPONENTS)
if(python IN_LIST harvest_components)
  # The launchers run modules of the Python package; its compiled module uses the library.
  set(CPACK_COMPONENT_PROGRAMS_DEPENDS python)
  set(CPACK_COMPONENT_PYTHON_DEPENDS library)
endif()

include(CPack)
