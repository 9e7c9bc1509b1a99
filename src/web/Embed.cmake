# Writes OUT: a C++ file holding each of FILES ("|"-separated) under its file name (see
# web/EmbeddedFiles.h).
set(out "// Generated from src/web/templates and src/web/static; edit those instead.\n")
string(APPEND out "#include \"web/EmbeddedFiles.h\"\n\nnamespace web {\n\n")
string(APPEND out "const std::map<std::string, std::string, std::less<>>& EmbeddedFiles() {\n")
string(APPEND out "  static const std::map<std::string, std::string, std::less<>> files = {\n")
string(REPLACE "|" ";" files "${FILES}")
foreach(file ${files})
  get_filename_component(name ${file} NAME)
  file(READ ${file} text)
  string(APPEND out "      {\"${name}\", R\"kvfile(${text})kvfile\"},\n")
endforeach()
string(APPEND out "  };\n  return files;\n}\n\n}  // namespace web\n")
file(WRITE ${OUT} "${out}")
