# Installs the build into PREFIX (emptied first) with cmake --install, then checks that every
# file the program and a Linux desktop need is where they look for it, and that the files agree
# with each other and with the program (vendor ID, program and icon names).
#
#   cmake -DBUILD_DIR=... -DPREFIX=... -DEXECUTABLE=zport-updater -DLINUX_DESKTOP=ON
#         -DUSB_IDS_HEADER=.../device/UsbIds.h -P CheckInstall.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${result}):\n${output}")
endif()

set(expected "bin/${EXECUTABLE}" "bin/documentation/Korvel_Z-PORT_Config_manual.pdf")
if(LINUX_DESKTOP)
    list(APPEND expected
         "lib/udev/rules.d/70-korvel-zport.rules"
         "share/applications/zport-updater.desktop"
         "share/icons/hicolor/256x256/apps/zport-updater.png")
endif()
set(missing)
foreach(name IN LISTS expected)
    if(NOT EXISTS "${PREFIX}/${name}")
        list(APPEND missing "${name}")
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "not installed: ${missing}")
endif()

file(READ "${PREFIX}/bin/documentation/Korvel_Z-PORT_Config_manual.pdf" head LIMIT 8 HEX)
if(NOT head STREQUAL "255044462d312e34") # %PDF-1.4
    message(FATAL_ERROR "the installed configuration manual is not a PDF 1.4 file")
endif()

if(LINUX_DESKTOP)
    # The rule must name the vendor ID that the program looks for, in lower-case hex.
    file(READ "${USB_IDS_HEADER}" ids)
    if(NOT ids MATCHES "kVendorId[^;]*0[xX]([0-9A-Fa-f]+)")
        message(FATAL_ERROR "no kVendorId in ${USB_IDS_HEADER}")
    endif()
    string(TOLOWER "${CMAKE_MATCH_1}" vendor)
    file(STRINGS "${PREFIX}/lib/udev/rules.d/70-korvel-zport.rules" rules REGEX "^[^#]")
    set(wanted "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"${vendor}\", TAG+=\"uaccess\"")
    if(NOT rules STREQUAL wanted)
        message(FATAL_ERROR "udev rule is\n  ${rules}\nnot\n  ${wanted}")
    endif()

    # The menu entry starts the installed program and shows the installed icon.
    file(STRINGS "${PREFIX}/share/applications/zport-updater.desktop" entry)
    foreach(line "[Desktop Entry]" "Type=Application" "Name=Korvel Z-PORT Updater"
                 "Exec=${EXECUTABLE}" "Icon=zport-updater" "Categories=Utility;")
        list(FIND entry "${line}" at)
        if(at LESS 0)
            message(FATAL_ERROR "zport-updater.desktop lacks the line ${line}")
        endif()
    endforeach()
    find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
    if(DESKTOP_FILE_VALIDATE)
        execute_process(COMMAND "${DESKTOP_FILE_VALIDATE}"
                                "${PREFIX}/share/applications/zport-updater.desktop"
                        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
        if(NOT result EQUAL 0)
            message(FATAL_ERROR "desktop-file-validate:\n${output}")
        endif()
    endif()

    # A PNG of 256 x 256 pixels: the signature, then the IHDR chunk's width and height.
    file(READ "${PREFIX}/share/icons/hicolor/256x256/apps/zport-updater.png" png LIMIT 24 HEX)
    if(NOT png MATCHES "^89504e470d0a1a0a0000000d49484452")
        message(FATAL_ERROR "the installed icon is not a PNG file")
    endif()
    string(SUBSTRING "${png}" 32 16 size)
    if(NOT size STREQUAL "0000010000000100")
        message(FATAL_ERROR "the installed icon is not 256 x 256 pixels (IHDR ${size})")
    endif()
endif()
message(STATUS "installed in ${PREFIX}: ${expected}")
