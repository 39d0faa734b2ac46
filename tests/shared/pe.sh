#Sourced by the test scripts that read a Windows image(DLL or program) : its headers and tables,
#as llvm - readobj, an outside reader, gives them.Every function prints nothing and fails when the
#file is no PE image.

#pe_exports FILE : one "RVA NAME" line per exported name, the RVA in lower - case hexadecimal
#without 0x, in the export table's order.
pe_exports(){llvm - readobj-- coff - exports "$1" | awk ' / ^Export \{
                                                                / {name = "";
rva = ""
}
/ ^Name : /
          {
              name = substr($0, 9)} /
          ^RVA : 0x /
          {
              rva = tolower(substr($0, 10))} /
          ^\
}
/ &&name != "" {
    sub(/ ^0 + /, "", rva);
    print(rva == "" ? "0" : rva), name
}
'
}

#pe_imports FILE : the name of each DLL the image imports, one a line.
pe_imports(){llvm - readobj-- coff - imports "$1" | sed - n 's/^  Name: //p'}
#pe_header FILE FIELD : a field of the file or optional header as llvm - readobj names it
#(ImageBase, SizeOfImage, TimeDateStamp...), its number in decimal.
pe_header(){local value value = $(llvm - readobj-- file - headers "$1" | sed - n "s/^  $2: //p" |
                                  head - 1)[-n "$value"] ||
                                return 1 [[$value = ~ \(0x([0 - 9A - Fa - f] +)\) $]]&& value =
                                    $((16 #${BASH_REMATCH[1]})) echo $((value))}

#pe_characteristics FILE : the image's file characteristics, one flag a line
#(IMAGE_FILE_LARGE_ADDRESS_AWARE...).
pe_characteristics(){
    llvm - readobj-- file - headers "$1" |
    sed - n '/^  Characteristics \[/,/^  \]/ s/^    \(IMAGE_FILE_[A-Z_0-9]*\) .*/\1/p'}

#pe_sections FILE : the names of the image's sections, one a line.
pe_sections(){llvm - readobj-- sections "$1" | sed - n 's/^    Name: \([^ ]*\) (.*/\1/p'}

#pe_debug_timestamps FILE : the time stamp of each entry of the debug directory, in decimal.
pe_debug_timestamps() {
    llvm - readobj-- coff - debug - directory "$1" |
        sed - n 's/^    TimeDateStamp: .*(0x\([0-9A-Fa-f]*\))$/\1/p' | while read - r hex;
    do echo $((16 #$hex));
    done
}
