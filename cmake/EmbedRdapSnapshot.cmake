# Writes OUT: a C++ source holding the RDAP bootstrap files of DATA_DIR (dns.json, ipv4.json,
# ipv6.json, asn.json) as byte arrays, and the function that hands them out by name.
set(names dns ipv4 ipv6 asn)
set(text "// Generated from data/rdap by cmake/EmbedRdapSnapshot.cmake; edit the JSON files instead.\n")
string(APPEND text "#include <string_view>\n\nnamespace ktinet::detail {\n\nnamespace {\n")
foreach(name ${names})
  file(READ ${DATA_DIR}/${name}.json hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # A line of the array for each line of the file.
  string(REPLACE "0x0a," "0x0a,\n" bytes "${bytes}")
  string(APPEND text "const unsigned char k_${name}[] = {\n${bytes}0};\n")
endforeach()
string(APPEND text "}  // namespace\n\nstd::string_view RdapSnapshotFile(std::string_view name) {\n")
foreach(name ${names})
  string(APPEND text "  if (name == \"${name}.json\") return {reinterpret_cast<const char*>(k_${name}), sizeof k_${name} - 1};\n")
endforeach()
string(APPEND text "  return {};\n}\n\n}  // namespace ktinet::detail\n")
file(WRITE ${OUT}.tmp "${text}")
file(RENAME ${OUT}.tmp ${OUT})
