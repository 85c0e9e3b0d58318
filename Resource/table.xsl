<?xml version="1.0" encoding="utf-8"?>
<!-- Flat view of a Treelan export: one table row per file with its full path. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="utf-8" indent="yes" doctype-system="about:legacy-compat"/>

  <xsl:variable name="root" select="/folders/@path"/>
  <!-- Joins the folder names with the root path's own separator: "/" here, "\" on Windows. -->
  <xsl:variable name="last" select="substring($root, string-length($root))"/>
  <xsl:variable name="sep">
    <xsl:choose>
      <xsl:when test="$last = '\'">\</xsl:when>
      <xsl:otherwise>/</xsl:otherwise>
    </xsl:choose>
  </xsl:variable>
  <xsl:variable name="prefix">
    <xsl:value-of select="$root"/>
    <xsl:if test="$root != '' and $last != '/' and $last != '\'"><xsl:value-of select="$sep"/></xsl:if>
  </xsl:variable>

  <xsl:template match="/folders">
    <html>
      <head>
        <meta http-equiv="Content-Type" content="text/html; charset=utf-8"/>
        <title>Files in <xsl:value-of select="$root"/></title>
        <style type="text/css">
          body { margin: 12px 16px; font-family: "DejaVu Sans", Verdana, Arial, sans-serif;
                 font-size: 13px; color: #1a1a1a; background: #fbfcfd; }
          h1 { font-size: 18px; margin: 0 0 12px 0; color: #1f3a5f; }
          table { border-collapse: collapse; }
          th, td { border: 1px solid #c8d0d8; padding: 2px 8px; }
          th { background: #e8edf2; text-align: left; }
          td.num { text-align: right; white-space: nowrap; }
          tr:nth-child(even) td { background: #f1f4f7; }
          tfoot td { background: #e8edf2; font-weight: bold; }
        </style>
      </head>
      <body>
        <h1>Files in <xsl:value-of select="$root"/></h1>
        <table>
          <thead>
            <tr><th>Path</th><th>Size</th><th>Date</th><th>Length</th><th>Bit rate</th></tr>
          </thead>
          <tbody>
            <xsl:apply-templates select="//file"/>
          </tbody>
          <tfoot>
            <tr>
              <td colspan="5">
                <xsl:value-of select="count(//file)"/> files in
                <xsl:value-of select="count(//folder) + 1"/> folders
              </td>
            </tr>
          </tfoot>
        </table>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="file">
    <tr>
      <td>
        <xsl:value-of select="$prefix"/>
        <xsl:for-each select="ancestor::folder">
          <xsl:value-of select="@title"/>
          <xsl:value-of select="$sep"/>
        </xsl:for-each>
        <xsl:value-of select="@title"/>
      </td>
      <td class="num"><xsl:value-of select="@size"/></td>
      <td class="num"><xsl:value-of select="@date"/></td>
      <td class="num"><xsl:value-of select="@length"/></td>
      <td class="num"><xsl:value-of select="@bitrate"/></td>
    </tr>
  </xsl:template>
</xsl:stylesheet>
