# cmake -DINPUT=<class file> -DOUTPUT=<header> -P embed_class.cmake: writes
# the class file's bytes as the C array launcherAgentClass.
file(READ "${INPUT}" bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.new"
  "/* Generated from LauncherAgent.class by embed_class.cmake. */\n"
  "static const unsigned char launcherAgentClass[] = {\n    ${bytes}\n};\n")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
