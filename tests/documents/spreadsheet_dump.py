# Prints what python3-xlrd reads from a worksheet file: per cell its place, type, value
# (text as cp1252 hex), number format, font, alignment, background and top border; then the column widths.
import sys, xlrd
book = xlrd.open_workbook(sys.argv[1], formatting_info=True, encoding_override='cp1252')
sheet = book.sheet_by_index(0)
print(book.biff_version, book.nsheets, sheet.nrows, sheet.ncols)
for r in range(sheet.nrows):
    for c in range(sheet.ncols):
        cell = sheet.cell(r, c)
        if cell.ctype == xlrd.XL_CELL_EMPTY:
            continue
        xf = book.xf_list[cell.xf_index]
        font = book.font_list[xf.font_index]
        value = cell.value.encode('cp1252').hex() if cell.ctype == xlrd.XL_CELL_TEXT else repr(cell.value)
        print(r, c, cell.ctype, value, book.format_map[xf.format_key].format_str, font.name, font.height,
              font.bold, font.italic, font.underline_type, font.struck_out, font.colour_index,
              xf.alignment.hor_align, xf.background.pattern_colour_index, xf.border.top_line_style)
for c in sorted(sheet.colinfo_map):
    print('width', c, sheet.colinfo_map[c].width)
