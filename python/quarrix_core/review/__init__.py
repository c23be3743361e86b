"""quarrix-review: a local web page on which curators judge the catalog rows'
descriptions and record their verdicts in the index's descriptions_verdicts.json."""
