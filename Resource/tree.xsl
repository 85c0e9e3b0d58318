<?xml version="1.0" encoding="utf-8"?>
<!-- Nested view of a Treelan export: every folder with its subfolders and a table of its files. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="utf-8" indent="yes" doctype-system="about:legacy-compat"/>

  <xsl:template match="/folders">
    <html>
      <head>
        <meta http-equiv="Content-Type" content="text/html; charset=utf-8"/>
        <title>Folder Listing <xsl:value-of select="@path"/></title>
        <style type="text/css">
          body { margin: 12px 16px; font-family: "DejaVu Sans", Verdana, Arial, sans-serif;
                 font-size: 13px; color: #1a1a1a; background: #fbfcfd; }
          h1 { font-size: 18px; margin: 0 0 4px 0; color: #1f3a5f; }
          p.summary { margin: 0 0 12px 0; color: #555; }
          ul { list-style: none; margin: 0; padding: 0; }
          div.kids { margin-left: 20px; }
          li { margin: 3px 0; }
          span.folder { font-weight: bold; color: #1f3a5f; }
          span.folder:before { content: "\25BE\00A0"; color: #7a8a99; }
          span.count, p.empty { color: #777; font-weight: normal; }
          p.empty { margin: 2px 0 2px 20px; font-style: italic; }
          table { border-collapse: collapse; margin: 3px 0 8px 0; }
          th, td { border: 1px solid #c8d0d8; padding: 2px 8px; }
          th { background: #e8edf2; text-align: left; }
          td.num { text-align: right; white-space: nowrap; }
          tr:nth-child(even) td { background: #f1f4f7; }
        </style>
      </head>
      <body>
        <h1><xsl:value-of select="@path"/></h1>
        <p class="summary">
          <xsl:value-of select="count(//folder)"/>
          <xsl:text> folders, </xsl:text>
          <xsl:value-of select="count(//file)"/>
          <xsl:text> files</xsl:text>
        </p>
        <xsl:call-template name="contents"/>
      </body>
    </html>
  </xsl:template>

  <!-- The subfolders of the current folder, then the table of its files. -->
  <xsl:template name="contents">
    <xsl:if test="folder">
      <ul><xsl:apply-templates select="folder"/></ul>
    </xsl:if>
    <xsl:if test="file">
      <table>
        <tr>
          <th>Name</th><th>Size</th><th>Date</th>
          <xsl:if test="file/@length"><th>Length</th></xsl:if>
          <xsl:if test="file/@bitrate"><th>Bit rate</th></xsl:if>
        </tr>
        <xsl:apply-templates select="file"/>
      </table>
    </xsl:if>
  </xsl:template>

  <xsl:template match="folder">
    <li>
      <span class="folder"><xsl:value-of select="@title"/></span>
      <xsl:text> </xsl:text>
      <span class="count">
        <xsl:text>(</xsl:text>
        <xsl:value-of select="count(file)"/>
        <xsl:choose>
          <xsl:when test="count(file) = 1"> file)</xsl:when>
          <xsl:otherwise> files)</xsl:otherwise>
        </xsl:choose>
      </span>
      <xsl:choose>
        <xsl:when test="folder | file">
          <div class="kids"><xsl:call-template name="contents"/></div>
        </xsl:when>
        <xsl:otherwise><p class="empty">empty</p></xsl:otherwise>
      </xsl:choose>
    </li>
  </xsl:template>

  <xsl:template match="file">
    <tr>
      <td><xsl:value-of select="@title"/></td>
      <td class="num"><xsl:value-of select="@size"/></td>
      <td class="num"><xsl:value-of select="@date"/></td>
      <xsl:if test="../file/@length"><td class="num"><xsl:value-of select="@length"/></td></xsl:if>
      <xsl:if test="../file/@bitrate"><td class="num"><xsl:value-of select="@bitrate"/></td></xsl:if>
    </tr>
  </xsl:template>
</xsl:stylesheet>
