# Deliberately broken parsers, one fault each, to show the targets' checks do fail. The copy
# lives in the build folder; the real sources are never touched. Listed in mutants.txt for
# scripts/fuzz --selfcheck.

set(MUTANT_LIST "")

# fuzz_mutant(name fuzz-source parser-file "from" "to" other-sources...)
function(fuzz_mutant name fuzz_source parser from to)
    file(READ ${TARVIK2_ROOT}/${parser} text)
    string(FIND "${text}" "${from}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "mutant ${name}: '${from}' is no longer in ${parser}")
    endif()
    string(REPLACE "${from}" "${to}" text "${text}")
    get_filename_component(base ${parser} NAME)
    set(copy ${CMAKE_CURRENT_BINARY_DIR}/mutants/${name}/${base})
    file(WRITE ${copy} "${text}")
    fuzz_target(mutant-${name} ${fuzz_source} ${copy} ${ARGN})
    get_filename_component(kind ${fuzz_source} NAME_WE)
    string(REGEX REPLACE "^fuzz_" "" kind ${kind})
    set(MUTANT_LIST "${MUTANT_LIST}mutant-${name} ${kind}\n" PARENT_SCOPE)
endfunction()

# The integer conversion.
set(apperror ${TARVIK2_ROOT}/app/apperror.cpp)
set(intconv ${TARVIK2_ROOT}/device/intconv.cpp)
fuzz_mutant(intconv-max fuzz_intconv.cpp device/intconv.cpp
    "if (value > limit)" "if (value >= limit)" ${apperror})
fuzz_mutant(intconv-hexdigits fuzz_intconv.cpp device/intconv.cpp
    "digits > 8" "digits > 9" ${apperror})
fuzz_mutant(intconv-blanks fuzz_intconv.cpp device/intconv.cpp
    "text[i] == u' ')" "text[i].isSpace())" ${apperror})
fuzz_mutant(intconv-hexsign fuzz_intconv.cpp device/intconv.cpp
    "if (text[i] == u'$'" "if (text[i] == u'+' && i + 1 < text.size() && text[i + 1] == u'$')\n        return parseHex(text, i + 2);\n    if (text[i] == u'$'" ${apperror})
fuzz_mutant(intconv-message fuzz_intconv.cpp app/apperror.cpp
    "is not a valid integer value\")" "is not a valid integer value \")" ${intconv})

# The settings block.
set(settingslayout ${TARVIK2_ROOT}/device/settingslayout.cpp)
fuzz_mutant(block-spill fuzz_settingsblock.cpp device/settingsblock.cpp
    "store(field, block, values[field.id]);"
    "store(field, block, values[field.id]);\n    block[44] = 0;" ${settingslayout})
fuzz_mutant(block-flag fuzz_settingsblock.cpp device/settingsblock.cpp
    "bytes[0] == 1 ? 1 : 0" "bytes[0] != 0 ? 1 : 0" ${settingslayout})
fuzz_mutant(block-endian fuzz_settingsblock.cpp device/settingsblock.cpp
    "std::uint8_t(std::uint32_t(value) >> 8)" "std::uint8_t((std::uint32_t(value) & 0x7FFF) >> 8)"
    ${settingslayout})

# The WAV header check.
fuzz_mutant(wav-length fuzz_wavheader.cpp upload/wavheader.cpp
    "fileSize - Size)" "fileSize)")
fuzz_mutant(wav-blocks fuzz_wavheader.cpp upload/wavheader.cpp
    "blocks > MaxBlocks" "blocks > MaxBlocks + 1")
fuzz_mutant(wav-datatag fuzz_wavheader.cpp upload/wavheader.cpp
    "!tagAt(header, 36, \"data\")" "header[36] != 'd'")
fuzz_mutant(wav-short fuzz_wavheader.cpp upload/wavheader.cpp
    "fileSize < Size || header.size() < std::size_t(Size)" "fileSize < Size")

file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/mutants.txt "${MUTANT_LIST}")
