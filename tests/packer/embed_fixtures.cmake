# Writes OUT, a C++ source holding every file of DIR as a byte array, so the
# tests read their fixtures from memory: the same on Linux and under Wine,
# whatever the working directory.
file(GLOB names RELATIVE ${DIR} ${DIR}/*)
list(SORT names)
set(arrays "")
set(table "")
set(index 0)
foreach(name ${names})
    file(READ ${DIR}/${name} hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND arrays "const unsigned char fixture_${index}[] = {${bytes}0};\n")
    string(APPEND table "    {\"${name}\", fixture_${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUT}.new "// Generated from tests/packer/fixtures by embed_fixtures.cmake.\n"
    "#include \"tests/packer/packer_test_support.h\"\n\nnamespace {\n${arrays}} // namespace\n\n"
    "const Fixture FIXTURES[] = {\n${table}};\nconst std::size_t FIXTURE_COUNT = ${index};\n")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
