#!/usr/bin/env bash
# Appends one scanned page to a copy of every PDF of a folder with the real program and checks the
# result with independent readers (qpdf, poppler):
#   - the report says Pages=1 and no error;
#   - the page count grew by exactly one;
#   - `qpdf --check` is no worse than before;
#   - every old page renders to the same pixels as before (pdftoppm, low resolution), keeps its
#     dictionary entries (apart from the page tree link and the content reference) and its content
#     (the content streams decoded and joined);
#   - every key of the document catalog is still there, and every document information entry
#     (but /ModDate) with its value;
#   - a protected file keeps its kind of protection (RC4, AES-128, AES-256; qpdf --show-encryption).
# A file the program refuses must be left byte for byte as it was, with an error in the report.
#
# Usage: check_pdf_append.sh [-b build-dir] [-m manifest.tsv] [-j jobs] [-k] [-v] folder-or-files...
#   -m  manifest: tab-separated lines "file password expect known-failure" (password "-" for none;
#       expect ok | repair | refuse | either; known-failure "-" or the symptom seen). Without it
#       every file is expected to take the page and has no password.
#   -j  files checked at once (default 2).
#   -k  keep the work folder (printed at the end) for a closer look.
#   -v  print the reasons of every failure, not only the summary line.
# Exit code: 0 when every file met its expectation or is listed as a known failure, 1 otherwise.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build="$here/../../../build"
manifest=""
keep=0
verbose=0
jobs=2
while getopts "b:m:j:kv" opt; do
  case $opt in
    b) build=$OPTARG ;;
    m) manifest=$OPTARG ;;
    j) jobs=$OPTARG ;;
    k) keep=1 ;;
    v) verbose=1 ;;
    *) sed -n '2,22p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { sed -n '2,22p' "$0"; exit 2; }
build=$(cd "$build" && pwd) || exit 2
for tool in qpdf pdftoppm jq md5sum; do
  command -v $tool >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done
[ -x "$build/lumipage" ] && [ -f "$build/libtwain_32.so" ] || { echo "no lumipage build in $build" >&2; exit 2; }

files=()
for a in "$@"; do
  if [ -d "$a" ]; then
    while IFS= read -r f; do files+=("$f"); done < <(find "$a" -maxdepth 1 -type f -iname '*.pdf' | LC_ALL=C sort)
  else
    files+=("$a")
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/pdfappend.XXXXXX")
[ $keep -eq 1 ] || trap 'rm -rf "$work"' EXIT

# The program alone in a folder, a virtual scanner with one small page, no SANE scanners.
mkdir -p "$work/exe" "$work/sys"
cp "$build/lumipage" "$work/exe/"
cp "$build/libtwain_32.so" "$work/sys/"
printf '[Sources]\nCount=1\n[Source1]\nPages=1\n[Sane]\nEnabled=0\n' > "$work/sys/twain_32.ini"
printf '[Scan]\nResolution=50\n' > "$work/exe/lumipage.ini"

manifest_field() {  # file column -> value ("" when the file is not listed)
  [ -n "$manifest" ] || return 0
  awk -F'\t' -v f="$1" -v c="$2" '$1 == f { print $c; exit }' "$manifest"
}

# qpdf --check exit codes ranked: 0 clean, 3 warnings, 2 errors, anything else (a crash) worst.
check_rank() {
  case $1 in 0) echo 0 ;; 3) echo 1 ;; 2) echo 2 ;; *) echo 3 ;; esac
}

# Renders every page of $1 in grey at 20 dpi and writes one checksum a line to $2. The reader is
# given two minutes: some public files keep it busy far longer (a render cut short shows as a
# difference of the old pages, never as a pass).
render() {
  local pdf=$1 out=$2 pw=$3
  rm -rf "$out.d"; mkdir -p "$out.d"
  timeout 120 pdftoppm -r 20 -gray -opw "$pw" "$pdf" "$out.d/p" >/dev/null 2>"$out.err"
  if [ -z "$(ls "$out.d")" ] && [ -n "$pw" ]; then
    timeout 120 pdftoppm -r 20 -gray -upw "$pw" "$pdf" "$out.d/p" >/dev/null 2>"$out.err"
  fi
  (cd "$out.d" && ls | LC_ALL=C sort -V | xargs -r md5sum | awk '{print $1}') >"$out"
  rm -rf "$out.d"
}

# Facts about one PDF, written to $2.*: qpdf --check rank, page count by walking the page tree,
# catalog keys, each page dictionary (references and tree links left out), page checksums.
inspect() {
  local pdf=$1 out=$2 pw=$3 role=$4
  qpdf --password="$pw" --check "$pdf" >"$out.check" 2>&1
  check_rank $? >"$out.rank"
  # Protection as one word: none, RC4, AESv2 (128-bit) or AESv3 (256-bit).
  qpdf --password="$pw" --show-encryption "$pdf" 2>/dev/null | awk '
    /File is not encrypted/ { m = "none" } /AESv2/ { m = "AESv2" } /AESv3/ { m = "AESv3" }
    /^R = / && m == "" { m = "RC4" } END { print (m == "" ? "?" : m) }' >"$out.crypt"
  # A file qpdf cannot read at all is unprotected when it names no security handler anywhere.
  if [ "$(cat "$out.crypt")" = "?" ] && ! grep -aq '/Encrypt' "$pdf"; then echo none >"$out.crypt"; fi
  qpdf --json=2 --json-key=pages --json-key=qpdf --json-stream-data=inline --decode-level=generalized \
       --password="$pw" "$pdf" >"$out.json" 2>/dev/null
  jq -r '.pages | length' "$out.json" >"$out.npages" 2>/dev/null
  [ -s "$out.npages" ] || echo "?" >"$out.npages"
  # Keys named /QPDFFake... are qpdf's own, for stray tokens where a key belongs.
  jq -r '.qpdf[1] as $o | ($o.trailer.value["/Root"] // "") as $r |
         ($o["obj:" + $r].value // {}) | keys[] | select(startswith("/QPDFFake") | not)' "$out.json" 2>/dev/null |
     LC_ALL=C sort >"$out.keys"
  # The document information entries (references followed one step), one "key<TAB>value" a line;
  # /ModDate changes with every save, and a null value is no entry.
  jq -r '.qpdf[1] as $o | ($o.trailer.value["/Info"] // {}) as $i |
         (if ($i | type) == "string" then ($o["obj:" + $i].value // {}) else $i end) |
         if type == "object" then . else {} end | del(.["/ModDate"]) | to_entries[] |
         select(.key | startswith("/QPDFFake") | not) |
         .value = (if (.value | type) == "string" and (.value | test("^[0-9]+ [0-9]+ R$"))
                   then ($o["obj:" + .value].value // null) else .value end) |
         select(.value != null) | .key + "\t" + (.value | tojson)' \
     "$out.json" 2>/dev/null | LC_ALL=C sort >"$out.info"
  # Streams that say they are Flate-compressed but hold no byte: no reader can decode them.
  jq -r '.qpdf[1] | to_entries[] | select(.value.stream.dict["/Filter"] == "/FlateDecode" and
         .value.stream.dict["/Length"] == 0) | .key' "$out.json" 2>/dev/null >"$out.emptyflate"
  jq -c '.qpdf[1] as $o | .pages[] | $o["obj:" + .object].value | del(.["/Parent"], .["/Contents"]) |
         with_entries(select(.key | startswith("/QPDFFake") | not)) |
         walk(if type == "string" and test("^[0-9]+ [0-9]+ R$") then "R" else . end)' \
     "$out.json" >"$out.dicts" 2>/dev/null
  # Each page's content streams decoded and joined, as one checksum a page.
  jq -c '.qpdf[1] as $o | .pages[] | [.contents[] | ($o["obj:" + .].stream.data // "") | @base64d] | add // ""' \
     "$out.json" 2>/dev/null | while IFS= read -r line; do printf '%s' "$line" | md5sum | cut -c1-32; done >"$out.content"
  rm -f "$out.json"
  render "$pdf" "$out.md5" "$pw"
  # A damaged original that poppler cannot show in full is compared as qpdf repairs it; when poppler
  # still cannot count the pages of that (a /Count it rejects survives the repair), as qpdf copies
  # the pages it walked into a new document.
  if [ "$role" = before ] && [ "$(wc -l <"$out.md5")" != "$(cat "$out.npages")" ]; then
    if qpdf --password="$pw" --decrypt "$pdf" "$out.repaired.pdf" >/dev/null 2>&1 || [ -f "$out.repaired.pdf" ]; then
      render "$out.repaired.pdf" "$out.md5" ""
      echo "old pages rendered from qpdf's repair" >"$out.note"
    fi
    if [ "$(wc -l <"$out.md5")" != "$(cat "$out.npages")" ] &&
       { qpdf --empty --pages "$pdf" --password="$pw" -- "$out.copied.pdf" >/dev/null 2>&1 ||
         [ -f "$out.copied.pdf" ]; }; then
      render "$out.copied.pdf" "$out.md5" ""
      echo "old pages rendered from qpdf's copy of its page walk" >"$out.note"
    fi
  fi
  # Poppler complained about the original but showed every page: what it showed may be its own
  # misreading (a page tree it cannot follow), so qpdf's copy of the pages is kept as a second
  # reference for the comparison.
  # No page that qpdf finds by walking the tree: qpdf puts every page object of the original under
  # a new root (object-number order), the reference for a reader that rebuilds the tree.
  if [ "$role" = before ] && { [ "$(cat "$out.npages")" = 0 ] || [ "$(cat "$out.npages")" = "?" ]; }; then
    qpdf --json=2 --json-key=qpdf --json-stream-data=inline --decode-level=none --password="$pw" \
         "$pdf" "$out.all.json" >/dev/null 2>&1
    if [ -s "$out.all.json" ] && jq -f "$here/rebuild_tree.jq" "$out.all.json" >"$out.rebuilt.json" 2>/dev/null &&
       qpdf --json-input "$out.rebuilt.json" "${out%/*}/rebuilt.pdf" >/dev/null 2>&1; then
      inspect "${out%/*}/rebuilt.pdf" "${out%/*}/rebuilt" "" rebuilt
    fi
    rm -f "$out.all.json" "$out.rebuilt.json"
  fi
  if [ "$role" = before ] && [ ! -f "$out.note" ] && grep -q 'Error' "$out.md5.err" 2>/dev/null &&
     { qpdf --empty --pages "$pdf" --password="$pw" -- "$out.copied.pdf" >/dev/null 2>&1 ||
       [ -f "$out.copied.pdf" ]; }; then
    render "$out.copied.pdf" "$out.alt.md5" ""
  fi
}

report_value() {  # section key -> value of the program's report, "<none>" when absent
  awk -F'=' -v s="[$1]" -v k="$2" '
    /^\[/ { in_s = ($0 == s) ; next }
    in_s && $1 == k { sub(/^[^=]*=/, ""); sub(/\r$/, ""); print; found = 1; exit }
    END { if (!found) print "<none>" }' "$exe/lp_done.dat" 2>/dev/null || echo "<none>"
}

# Compares the old pages of $2 (the saved file) with reference $1 (the original, or qpdf's
# rebuild of it): page count, poppler's page count and checksums, dictionaries and content.
# Sets old_reasons.
compare_old() {
  local ref=$1 out=$2 nb na nold nnew changed nd dchanged nc cchanged
  old_reasons=()
  nb=$(cat "$ref.npages"); na=$(cat "$out.npages")
  if [ "$nb" = "?" ]; then
    :  # qpdf could not walk the original either: poppler's page count below decides
  elif [ "$na" != "$((nb + 1))" ]; then
    old_reasons+=("pages $nb -> $na")
  fi
  nold=$(wc -l <"$ref.md5"); nnew=$(wc -l <"$out.md5")
  if [ "$nnew" -ne $((nold + 1)) ]; then
    old_reasons+=("poppler renders $nold -> $nnew pages")
  fi
  changed=$(paste -d' ' <(head -n "$nold" "$ref.md5") <(head -n "$nold" "$out.md5") |
            awk '$1 != $2 { c++; if (!first) first = NR } END { if (c) print c " (first: page " first ")" }')
  if [ -n "$changed" ] && [ -s "$ref.alt.md5" ] && [ "$(wc -l <"$ref.alt.md5")" -eq "$nold" ] &&
     cmp -s "$ref.alt.md5" <(head -n "$nold" "$out.md5"); then
    changed=""
    echo "old pages as in qpdf's copy; poppler misread the original" >"$ref.note"
  fi
  [ -z "$changed" ] || old_reasons+=("old pages render differently: $changed")
  nd=$(wc -l <"$ref.dicts")
  dchanged=$(paste -d'\t' <(head -n "$nd" "$ref.dicts") <(head -n "$nd" "$out.dicts") |
             awk -F'\t' '$1 != $2 { c++; if (!first) first = NR } END { if (c) print c " (first: page " first ")" }')
  [ -z "$dchanged" ] || old_reasons+=("old page dictionaries differ: $dchanged")
  nc=$(wc -l <"$ref.content")
  cchanged=$(paste -d' ' <(head -n "$nc" "$ref.content") <(head -n "$nc" "$out.content") |
             awk '$1 != $2 { c++; if (!first) first = NR } END { if (c) print c " (first: page " first ")" }')
  [ -z "$cchanged" ] || old_reasons+=("old page content differs: $cchanged")
}

# Checks file number $1 with the program copy in folder $2; prints "result<TAB>table line".
check_one() {
  local total=$1 exe=$2 src=${files[$1]}
  local name pw expect knownfail d sum_before sum_after job_rc error pages leftovers outcome
  local rb ra lost ok result pagecol detail
  local -a reasons args old_reasons
  name=$(basename "$src")
  pw=$(manifest_field "$name" 2)
  [ "$pw" = "-" ] && pw=""
  expect=$(manifest_field "$name" 3)
  [ -n "$expect" ] || expect=ok
  knownfail=$(manifest_field "$name" 4)
  [ "$knownfail" = "-" ] && knownfail=""

  d="$work/f$total"
  mkdir -p "$d"
  cp "$src" "$d/doc.pdf"
  sum_before=$(md5sum <"$d/doc.pdf")
  inspect "$d/doc.pdf" "$d/before" "$pw" before

  rm -f "$exe/lp_done.dat" "$work/exe"/page*.*
  args=(pdf Append filename "$d/doc.pdf")
  [ -n "$pw" ] && args+=(PDFPassword "$pw")
  (cd / && SANE_CONFIG_DIR="$work/sys" LUMIPAGE_SYSTEM_DIR="$work/sys" \
     timeout 20 "$exe/lumipage" "${args[@]}" </dev/null >"$d/job.log" 2>&1)
  job_rc=$?
  error=$(report_value Error Message)
  pages=$(report_value Scan Pages)
  sum_after=$(md5sum <"$d/doc.pdf")
  leftovers=$(cd "$exe" && ls page*.* 2>/dev/null | tr '\n' ' ')

  reasons=()
  outcome=""
  if [ $job_rc -ne 0 ]; then
    reasons+=("program ended with code $job_rc")
    outcome=crash
  elif [ "$error" != "<none>" ]; then
    outcome=refused
    [ "$sum_before" = "$sum_after" ] || reasons+=("refused but the file changed")
  else
    outcome=appended
    inspect "$d/doc.pdf" "$d/after" "$pw" after
    [ "$pages" = "1" ] || reasons+=("report Pages=$pages")
    rb=$(cat "$d/before.rank"); ra=$(cat "$d/after.rank")
    [ "$ra" -le "$rb" ] || reasons+=("qpdf --check worse (rank $rb -> $ra): $(grep -m1 -iE 'error|warn' "$d/after.check" | cut -c1-100)")
    compare_old "$d/before" "$d/after"
    # No page tree that qpdf can walk in the original: the old pages may be the page objects found
    # in it, put under a new root by qpdf itself.
    if [ ${#old_reasons[@]} -gt 0 ] && [ -s "$d/rebuilt.md5" ]; then
      local -a first_reasons=("${old_reasons[@]}")
      compare_old "$d/rebuilt" "$d/after"
      if [ ${#old_reasons[@]} -eq 0 ]; then
        echo "old pages as qpdf rebuilds them from the page objects found" >"$d/before.note"
      else
        old_reasons=("${first_reasons[@]}")
      fi
    fi
    reasons+=("${old_reasons[@]}")
    cmp -s "$d/before.crypt" "$d/after.crypt" ||
      reasons+=("protection changed: $(cat "$d/before.crypt") -> $(cat "$d/after.crypt")")
    lost=$(LC_ALL=C comm -23 "$d/before.keys" "$d/after.keys" | tr '\n' ' ')
    [ -z "$lost" ] || reasons+=("catalog keys lost: $lost")
    lost=$(LC_ALL=C comm -23 "$d/before.info" "$d/after.info" | cut -f1 | tr '\n' ' ')
    [ -z "$lost" ] || reasons+=("information entries lost or changed: $lost")
    [ ! -s "$d/after.emptyflate" ] ||
      reasons+=("empty streams marked as Flate data: $(head -3 "$d/after.emptyflate" | tr '\n' ' ')")
  fi
  # Pages of a refused job are kept on purpose; once added to the PDF they must be gone.
  if [ -n "$leftovers" ] && [ "$outcome" = appended ]; then
    reasons+=("page files left beside the program: $leftovers")
  fi

  # Did the file meet its expectation?
  ok=1
  [ ${#reasons[@]} -eq 0 ] || ok=0
  case $expect in
    ok|repair) [ "$outcome" = appended ] || ok=0 ;;
    refuse) [ "$outcome" = refused ] || ok=0 ;;
    either) ;;
  esac
  if [ "$outcome" = refused ] && [ "$expect" != refuse ] && [ "$expect" != either ]; then
    reasons+=("refused: $error")
  fi
  if [ "$outcome" = appended ] && [ "$expect" = refuse ]; then
    reasons+=("expected a refusal, the page was added")
  fi

  if [ $ok -eq 1 ]; then
    result=pass
    [ -z "$knownfail" ] || result=FIXED
  elif [ -n "$knownfail" ]; then
    result=known
  else
    result=FAIL
  fi
  pagecol="$(cat "$d/before.npages")"
  [ "$outcome" = appended ] && pagecol="$pagecol->$(cat "$d/after.npages")"
  detail="$outcome"
  [ -f "$d/before.note" ] && detail="$detail ($(cat "$d/before.note"))"
  [ ${#reasons[@]} -eq 0 ] || detail="$detail; $(IFS=';'; echo "${reasons[*]}")"
  if [ $verbose -eq 0 ] && [ "$result" != FAIL ] && [ ${#detail} -gt 90 ]; then detail="${detail:0:87}..."; fi
  printf '%s\t%-46s %-7s %-7s %-9s %s\n' "$result" "$name" "$expect" "$result" "$pagecol" "$detail"
  [ $keep -eq 1 ] || rm -rf "$d"
}

# Workers take every jobs-th file; the table is printed in file order at the end.
for ((w = 0; w < jobs; w++)); do
  (
    exe="$work/exe$w"
    mkdir -p "$exe"
    cp "$work/exe/lumipage" "$work/exe/lumipage.ini" "$exe/"
    for ((i = w; i < ${#files[@]}; i += jobs)); do
      check_one "$i" "$exe" >"$work/result.$i"
    done
  ) &
done
wait

printf '%-46s %-7s %-7s %-9s %s\n' FILE EXPECT RESULT PAGES DETAIL
total=${#files[@]}; passed=0; failed=0; known=0; fixed=0
for ((i = 0; i < total; i++)); do
  line=$(cat "$work/result.$i" 2>/dev/null)
  [ -n "$line" ] || line="FAIL	$(basename "${files[$i]}") (no result)"
  result=${line%%	*}
  echo "${line#*	}"
  case $result in
    pass) passed=$((passed + 1)) ;;
    FIXED) passed=$((passed + 1)); fixed=$((fixed + 1)) ;;
    known) known=$((known + 1)) ;;
    *) failed=$((failed + 1)) ;;
  esac
done

echo
echo "$total files: $passed passed, $failed failed, $known known failures, $fixed known failures now pass"
[ $fixed -eq 0 ] || echo "Known failures that now pass: take them off the list."
[ $keep -eq 0 ] || echo "work folder kept: $work"
[ $failed -eq 0 ]
