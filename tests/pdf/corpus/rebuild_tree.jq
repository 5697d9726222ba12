# For qpdf's JSON of a document (--json=2 --json-key=qpdf --json-stream-data=inline): the same
# document with every object of /Type /Page, in object-number order, under a new page tree root
# that the catalog names. qpdf --json-input makes a PDF of it.
.qpdf[1] as $o
| (.qpdf[0].maxobjectid + 1) as $n
| "\($n) 0 R" as $root_ref
| ($o | to_entries
      | map(select((.value.value | type) == "object" and .value.value["/Type"] == "/Page"))
      | map(.key | ltrimstr("obj:"))
      | sort_by(split(" ")[0] | tonumber)) as $pages
| ($o.trailer.value["/Root"]) as $catalog
| .qpdf[0].maxobjectid = $n
| .qpdf[1]["obj:\($root_ref)"] = {"value": {"/Type": "/Pages", "/Kids": $pages, "/Count": ($pages | length)}}
| .qpdf[1]["obj:\($catalog)"].value["/Pages"] = $root_ref
| reduce $pages[] as $p (.; .qpdf[1]["obj:\($p)"].value["/Parent"] = $root_ref)
